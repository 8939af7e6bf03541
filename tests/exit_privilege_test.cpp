// Leaving after an infection-mode clear when the shutdown privilege cannot
// be enabled. This executable defines EnablePrivilege itself, failing, so
// the linker takes it in place of the program's.
#include "res/resource.h"
#include "support/DialogDriver.h"
#include "support/ExitScenario.h"
#include "support/WatchedFiles.h"
#include "system/Privilege.h"
#include "ui/RepairDialog.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

using namespace testing_support;

namespace {
std::mutex g_requestsLock;
std::vector<std::string> g_requests;  // names asked for, in order
}  // namespace

int EnablePrivilege(const char* name)
{
    std::lock_guard<std::mutex> lock(g_requestsLock);
    g_requests.push_back(name);
    return 0;
}

namespace {

std::vector<std::string> Requests()
{
    std::lock_guard<std::mutex> lock(g_requestsLock);
    return g_requests;
}

class PrivilegeRefused : public PlantedFiles {
protected:
    void SetUp() override
    {
        PlantedFiles::SetUp();
        std::lock_guard<std::mutex> lock(g_requestsLock);
        g_requests.clear();
    }

    INT_PTR Run(const std::function<void(DialogDriver&)>& script)
    {
        INT_PTR result = -2;
        CRepairDialog dialog;
        RunDriven("Tarvik", [&] { result = dialog.DoModal(); }, script);
        return result;
    }
};

class PrivilegeRefusedOnLeaving : public PrivilegeRefused, public ::testing::WithParamInterface<WayOut> {};

TEST_P(PrivilegeRefusedOnLeaving, ExitReportsItAndEndsWithoutTheRestartQuestion)
{
    Plant(kPuid, "planted");
    INT_PTR result = Run([](DialogDriver& d) {
        ClearAnInfection(d);
        Leave(d, GetParam());
        EXPECT_EQ("提权失败", d.NextMessage());
        EXPECT_EQ(std::vector<int>{ IDOK }, d.MessageButtons());
        d.Answer(IDOK);
        ExpectEndsWithoutAsking(d);  // no restart question
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(std::vector<std::string>{ "SeShutdownPrivilege" }, Requests());
}

INSTANTIATE_TEST_SUITE_P(, PrivilegeRefusedOnLeaving,
                         ::testing::Values(WayOut::ExitButton, WayOut::Escape, WayOut::CloseBox),
                         ::testing::PrintToStringParamName());

TEST_F(PrivilegeRefused, IsNotAskedForWithoutAnInfectionClear)
{
    EXPECT_EQ(IDCANCEL, Run([](DialogDriver& d) {
        d.PressEscape();
        ExpectEndsWithoutAsking(d);
    }));
    EXPECT_TRUE(Requests().empty());
}

}  // namespace
