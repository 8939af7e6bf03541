// The infection check and the removal of listed files, against files planted
// in the test prefix's own C:\windows: the watched executables with their
// reference copies under system32\dllcache, and the files the malware drops
// into system32\drivers. Wine ships no userinit.exe, ctfmon.exe, conime.exe
// and no dllcache, so those are planted and removed freely; explorer.exe is
// Wine's own, so only its reference copy is ever planted.
#include "infection/InfectionCheck.h"
#include "res/resource.h"
#include "support/DialogDriver.h"
#include "support/ListWindow.h"
#include "support/Prefix.h"
#include "support/WatchedFiles.h"
#include "ui/RepairDialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace testing_support;

namespace {

const char kCaption[] = "Tarvik";
const char kRestartQuestion[] = "建议立即重启,以彻底清除病毒文件";

class InfectionScan : public PlantedFiles {
protected:
    std::vector<Row> Scan()
    {
        ScanInfections(m_window.list);
        return m_window.Rows();
    }

    ListWindow m_window;
};

TEST_F(InfectionScan, IdenticalHeadsAreNotListed)
{
    Plant(kUserinit, Content(kPage, 1));
    Plant(Reference(kUserinit), Content(kPage, 1));
    Plant(kCtfmon, Content(3 * kPage + 123, 2));
    Plant(Reference(kCtfmon), Content(3 * kPage + 123, 2));
    PlantExplorerReference(false);
    EXPECT_EQ(std::vector<Row>(), Scan());
}

TEST_F(InfectionScan, DifferencesBeyondTheFirstPageAreNotListed)
{
    std::string file = Content(2 * kPage, 1);
    Plant(kUserinit, file);
    Plant(Reference(kUserinit), Flip(file, kPage));  // the first byte after the page
    Plant(kCtfmon, file);
    Plant(Reference(kCtfmon), Flip(file, 2 * kPage - 1));
    Plant(kConime, file.substr(0, kPage));  // same head, different length
    Plant(Reference(kConime), file);
    EXPECT_EQ(std::vector<Row>(), Scan());
}

TEST_F(InfectionScan, ADifferenceInTheFirstOrLastByteOfThePageIsListed)
{
    std::string file = Content(2 * kPage, 1);
    Plant(kUserinit, file);
    Plant(Reference(kUserinit), Flip(file, 0));
    Plant(kConime, file.substr(0, kPage));
    Plant(Reference(kConime), Flip(file.substr(0, kPage), kPage - 1));
    EXPECT_EQ((std::vector<Row>{ Listed(kConime, kInfected), Listed(kUserinit, kInfected) }), Scan());
}

TEST_F(InfectionScan, AFileShorterThanAPageIsNeverListed)
{
    Plant(kUserinit, Content(kPage - 1, 1));  // one byte short of a page
    Plant(Reference(kUserinit), Content(kPage, 2));
    Plant(kCtfmon, Content(kPage, 1));
    Plant(Reference(kCtfmon), Content(kPage - 1, 2));  // the reference copy is short
    Plant(kConime, "");
    Plant(Reference(kConime), Content(kPage, 2));
    EXPECT_EQ(std::vector<Row>(), Scan());
}

TEST_F(InfectionScan, AMissingReferenceCopyOrExecutableIsNotListed)
{
    Plant(kUserinit, Content(kPage, 1));  // no reference copy
    Plant(Reference(kCtfmon), Content(kPage, 2));  // no executable
    EXPECT_EQ(std::vector<Row>(), Scan());
}

TEST_F(InfectionScan, ExplorerIsComparedWithItsReferenceCopy)
{
    PlantExplorerReference(false);
    EXPECT_EQ(std::vector<Row>(), Scan());
    PlantExplorerReference(true);
    EXPECT_EQ((std::vector<Row>{ Listed(kExplorer, kInfected) }), Scan());
}

TEST_F(InfectionScan, PlantedDriverFilesAreListedWhateverTheirContent)
{
    Plant(kPcihdd, "");
    Plant(kNtfsDll, Content(10 * kPage, 1));
    EXPECT_EQ((std::vector<Row>{ Listed(kNtfsDll, kSuspicious), Listed(kPcihdd, kSuspicious) }), Scan());
}

TEST_F(InfectionScan, ADirectoryNamedLikeAPlantedFileIsNotListed)
{
    PlantDirectory(kPcihdd);
    PlantDirectory(kPuid);
    Plant(kNtfsDll, "x");
    EXPECT_EQ((std::vector<Row>{ Listed(kNtfsDll, kSuspicious) }), Scan());
}

TEST_F(InfectionScan, WithEveryRowHittingListsTheDriverFilesFirst)
{
    PlantAllSeven();
    m_window.list.InsertItem(LVIF_TEXT, 0, "stale", 0, 0, 0, 0);
    std::vector<Row> rows = Scan();
    EXPECT_EQ(AllSevenRows(), rows);
    ASSERT_EQ(7u, rows.size());
    // Column 0 is the full path, with the windows directory the system reports.
    EXPECT_EQ(0, lstrcmpiA("C:\\windows\\system32\\drivers\\ntfs.dll", rows[0].first.c_str())) << rows[0].first;
    EXPECT_EQ(0, lstrcmpiA("C:\\windows\\explorer.exe", rows[5].first.c_str())) << rows[5].first;
    EXPECT_EQ(AllSevenRows(), Scan()) << "a second scan replaces the rows";
}

TEST(FirstPageDiffers, TakesAnyTwoPathsAndNeedsBoth)
{
    std::string dir = FreshDirectory("infection");
    WriteBytes(dir + "\\a.bin", Content(kPage, 1));
    WriteBytes(dir + "\\b.bin", Content(kPage, 2));
    std::string a = dir + "\\a.bin";
    std::string b = dir + "\\b.bin";
    EXPECT_EQ(1, FirstPageDiffers(a.c_str(), b.c_str()));
    EXPECT_EQ(0, FirstPageDiffers(a.c_str(), a.c_str()));
    EXPECT_EQ(0, FirstPageDiffers(nullptr, b.c_str()));
    EXPECT_EQ(0, FirstPageDiffers(a.c_str(), nullptr));
}

TEST(ReadFileHead, ReadsFromTheStartAndReportsTheBytesRead)
{
    std::string dir = FreshDirectory("infection");
    std::string content = Content(3 * kPage, 9);
    WriteBytes(dir + "\\long.bin", content);
    WriteBytes(dir + "\\short.bin", content.substr(0, 100));
    WriteBytes(dir + "\\empty.bin", "");
    char buffer[kPage];

    DWORD size = kPage;
    EXPECT_EQ(1, ReadFileHead((dir + "\\long.bin").c_str(), buffer, &size));
    ASSERT_EQ(kPage, size);
    EXPECT_EQ(content.substr(0, kPage), std::string(buffer, size));

    size = kPage;
    EXPECT_EQ(1, ReadFileHead((dir + "\\short.bin").c_str(), buffer, &size));
    ASSERT_EQ(100u, size);
    EXPECT_EQ(content.substr(0, 100), std::string(buffer, size));

    size = kPage;
    EXPECT_EQ(1, ReadFileHead((dir + "\\empty.bin").c_str(), buffer, &size));
    EXPECT_EQ(0u, size);

    size = kPage;
    EXPECT_EQ(0, ReadFileHead((dir + "\\missing.bin").c_str(), buffer, &size));
    EXPECT_EQ(0, ReadFileHead(nullptr, buffer, &size));
    EXPECT_EQ(0, ReadFileHead((dir + "\\long.bin").c_str(), nullptr, &size));
    EXPECT_EQ(kPage, size) << "a failed read leaves the size alone";
}

TEST(ReadFileHead, ExpandsEnvironmentReferences)
{
    char buffer[2];
    DWORD size = sizeof(buffer);
    EXPECT_EQ(1, ReadFileHead("%systemroot%\\explorer.exe", buffer, &size));
    EXPECT_EQ("MZ", std::string(buffer, size));
}

// A pipe hands over what has been written so far: a reader that came back
// for more would see the second write as well.
// A windows directory whose expanded paths do not fit 260 bytes: the row
// shows the file's bare name, and the file tests take the text unexpanded
// (here, relative to a current directory that holds such a tree).
TEST(InfectionScanExpansion, APathThatDoesNotFitShowsTheBareName)
{
    std::string dir = FreshDirectory("long-systemroot");
    std::string unexpanded = dir + "\\%systemroot%";
    CreateDirectoryA(unexpanded.c_str(), nullptr);
    CreateDirectoryA((unexpanded + "\\system32").c_str(), nullptr);
    CreateDirectoryA((unexpanded + "\\system32\\drivers").c_str(), nullptr);
    std::string planted = unexpanded + "\\system32\\drivers\\pcihdd.sys";
    WriteBytes(planted, "planted");

    char savedRoot[MAX_PATH] = "";
    GetEnvironmentVariableA("SystemRoot", savedRoot, sizeof(savedRoot));
    char savedDir[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof(savedDir), savedDir);
    ASSERT_TRUE(SetEnvironmentVariableA("SystemRoot", ("C:\\" + std::string(270, 'w')).c_str()));
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));

    ListWindow window;
    ScanInfections(window.list);
    std::vector<Row> rows = window.Rows();

    SetCurrentDirectoryA(savedDir);
    SetEnvironmentVariableA("SystemRoot", savedRoot);
    DeleteFileA(planted.c_str());
    RemoveDirectoryA((unexpanded + "\\system32\\drivers").c_str());
    RemoveDirectoryA((unexpanded + "\\system32").c_str());
    RemoveDirectoryA(unexpanded.c_str());

    EXPECT_EQ((std::vector<Row>{ { "pcihdd.sys", kSuspicious } }), rows);
}

TEST(ReadFileHead, ReadsOnce)
{
    const char pipeName[] = "\\\\.\\pipe\\orvex-infection-head";
    HANDLE pipe = CreateNamedPipeA(pipeName, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 2 * kPage,
                                   2 * kPage, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    std::string content = Content(200, 4);
    std::thread writer([&] {
        ConnectNamedPipe(pipe, nullptr);  // or the reader connected first
        DWORD written = 0;
        WriteFile(pipe, content.data(), 100, &written, nullptr);
        Sleep(500);
        WriteFile(pipe, content.data() + 100, 100, &written, nullptr);  // fails once the reader has gone
        DisconnectNamedPipe(pipe);
    });
    char buffer[kPage];
    DWORD size = kPage;
    EXPECT_EQ(1, ReadFileHead(pipeName, buffer, &size));
    writer.join();
    CloseHandle(pipe);
    ASSERT_EQ(100u, size);
    EXPECT_EQ(content.substr(0, 100), std::string(buffer, size));
}

// The main window in infection mode, driven from a second thread.
class InfectionMode : public PlantedFiles {
protected:
    static void Run(const std::function<void(DialogDriver&)>& script)
    {
        CRepairDialog dialog;
        RunDriven(kCaption, [&] { dialog.DoModal(); }, script);
    }

    // Switches to infection mode and presses "检查"; returns the count message.
    static std::string CheckInfections(DialogDriver& d)
    {
        d.SelectTab(1);
        d.Press(IDC_CHECK);
        return d.ReadAndClose();
    }

    // Leaves through Esc, answering the restart question with No. Yes would
    // restart the prefix under the running test.
    static void LeaveDecliningRestart(DialogDriver& d)
    {
        d.PressEscape();
        EXPECT_EQ(kRestartQuestion, d.NextMessage());
        std::vector<int> buttons = d.MessageButtons();
        std::sort(buttons.begin(), buttons.end());
        EXPECT_EQ((std::vector<int>{ IDYES, IDNO }), buttons);
        d.Answer(IDNO);
        EXPECT_TRUE(d.WaitUntilClosed());
    }

    // Leaves through Esc; the window closes with no question asked.
    static void LeaveUnasked(DialogDriver& d)
    {
        d.PressEscape();
        EXPECT_TRUE(d.WaitUntilClosed(5000)) << "a question holds the window open: " << d.NextMessage(0);
    }
};

TEST_F(InfectionMode, CheckListsAndCountsAllSevenRows)
{
    PlantAllSeven();
    Run([](DialogDriver& d) {
        EXPECT_EQ("找到 7 项", CheckInfections(d));
        EXPECT_EQ(AllSevenRows(), d.Rows());
        LeaveUnasked(d);
    });
    EXPECT_TRUE(FileExists(SystemPath(kExplorer)));
}

TEST_F(InfectionMode, ClearSelectedDeletesAFileNotInUseWithoutAWord)
{
    Plant(kPcihdd, "x");
    Plant(kPuid, "y");
    Run([](DialogDriver& d) {
        EXPECT_EQ("找到 2 项", CheckInfections(d));
        d.ClickRow(1);  // pcihdd.sys
        d.Press(IDC_CLEAR_SELECTED);
        EXPECT_TRUE(d.NoMessageWithin(1500));
        EXPECT_EQ((std::vector<Row>{ Listed(kPuid, kSuspicious) }), d.Rows());
        EXPECT_FALSE(FileExists(SystemPath(kPcihdd)));
        LeaveDecliningRestart(d);
    });
    EXPECT_TRUE(FileExists(SystemPath(kPuid)));
    bool queued = true;
    ReadPending(&queued);
    EXPECT_FALSE(queued);
}

// A file in use is queued and the user told to restart. When the queue
// refuses too (the pending value is another program's REG_SZ), the user is
// told that it cannot be deleted, and the file keeps its attributes.
TEST_F(InfectionMode, ClearSelectedQueuesAFileInUseAndSaysSo)
{
    const std::string path = SystemPath(kNtfsDll);
    const std::string otherValue = WideStrings({ L"\\??\\C:\\keep.dll" });
    for (bool refused : { false, true }) {
        SCOPED_TRACE(refused ? "the queue refuses" : "queued");
        DeletePending();
        if (refused)
            WritePending(otherValue, REG_SZ);
        Plant(kNtfsDll, "x");
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        Run([&](DialogDriver& d) {
            EXPECT_EQ("找到 1 项", CheckInfections(d));
            d.ClickRow(0);
            d.Press(IDC_CLEAR_SELECTED);
            EXPECT_EQ(refused ? "文件: " + path + "\n无法删除" : CannotDelete(kNtfsDll), d.NextMessage());
            EXPECT_EQ(std::vector<int>{ IDOK }, d.MessageButtons());
            d.Answer(IDOK);
            EXPECT_EQ((std::vector<Row>{ Listed(kNtfsDll, kSuspicious) }), d.Rows());
            LeaveDecliningRestart(d);
        });
        CloseHandle(held);
        EXPECT_TRUE(FileExists(path));
        EXPECT_EQ(refused ? otherValue : WideStrings({ NtPath(kNtfsDll), L"", L"" }), ReadPending());
        const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
        EXPECT_EQ(refused ? kept : 0, GetFileAttributesA(path.c_str()) & kept);
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST_F(InfectionMode, ClearAllSaysOnceForEachFileInUseInListOrder)
{
    Plant(kNtfsDll, "x");
    Plant(kPuid, "y");
    Plant(kPcihdd, "z");
    PlantInfected(kConime);
    PlantInfected(kUserinit);
    Hold(kNtfsDll);
    Hold(kPcihdd);
    Hold(kUserinit);
    Run([](DialogDriver& d) {
        EXPECT_EQ("找到 5 项", CheckInfections(d));
        d.Press(IDC_CLEAR_ALL);
        EXPECT_EQ(CannotDelete(kNtfsDll), d.ReadAndClose());
        EXPECT_EQ(CannotDelete(kPcihdd), d.ReadAndClose());
        EXPECT_EQ(CannotDelete(kUserinit), d.ReadAndClose());
        EXPECT_TRUE(d.NoMessageWithin(1500)) << "no count after a clear";
        EXPECT_EQ((std::vector<Row>{ Listed(kNtfsDll, kSuspicious), Listed(kPcihdd, kSuspicious),
                                     Listed(kUserinit, kInfected) }),
                  d.Rows());
        LeaveDecliningRestart(d);
    });
    EXPECT_FALSE(FileExists(SystemPath(kPuid)));
    EXPECT_FALSE(FileExists(SystemPath(kConime)));
    EXPECT_TRUE(FileExists(SystemPath(Reference(kConime)))) << "reference copies are not touched";
    EXPECT_EQ(WideStrings({ NtPath(kNtfsDll), L"", NtPath(kPcihdd), L"", NtPath(kUserinit), L"", L"" }),
              ReadPending());
}

TEST_F(InfectionMode, ClearAllThatDeletesEverythingStillAdvisesARestart)
{
    Plant(kPcihdd, "x");
    PlantInfected(kCtfmon);
    Run([](DialogDriver& d) {
        EXPECT_EQ("找到 2 项", CheckInfections(d));
        d.Press(IDC_CLEAR_ALL);
        EXPECT_TRUE(d.NoMessageWithin(1500));
        EXPECT_EQ(std::vector<Row>(), d.Rows());
        LeaveDecliningRestart(d);
    });
    EXPECT_FALSE(FileExists(SystemPath(kPcihdd)));
    EXPECT_FALSE(FileExists(SystemPath(kCtfmon)));
}

TEST_F(InfectionMode, ClearSelectedWithNoRowSelectedSaysSoAndAdvisesNothing)
{
    Plant(kPcihdd, "x");
    Run([](DialogDriver& d) {
        EXPECT_EQ("找到 1 项", CheckInfections(d));
        d.Press(IDC_CLEAR_SELECTED);
        EXPECT_EQ("未选定任何项", d.ReadAndClose());
        EXPECT_EQ((std::vector<Row>{ Listed(kPcihdd, kSuspicious) }), d.Rows());
        LeaveUnasked(d);
    });
    EXPECT_TRUE(FileExists(SystemPath(kPcihdd)));
}

TEST_F(InfectionMode, ClearAllWithAnEmptyListSaysSoAndAdvisesNothing)
{
    Run([](DialogDriver& d) {
        d.SelectTab(1);
        d.Press(IDC_CLEAR_ALL);
        EXPECT_EQ("未找到任何项", d.ReadAndClose());
        d.Press(IDC_CHECK);
        EXPECT_EQ("找到 0 项", d.ReadAndClose());
        d.Press(IDC_CLEAR_ALL);
        EXPECT_EQ("未找到任何项", d.ReadAndClose());
        LeaveUnasked(d);
    });
}

TEST_F(InfectionMode, ARowWithoutAPathIsSkippedButTheListIsRescanned)
{
    Plant(kPcihdd, "x");
    Run([](DialogDriver& d) {
        EXPECT_EQ("找到 1 项", CheckInfections(d));
        // The window runs in this process, so the row can be handed over directly.
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.pszText = const_cast<char*>("");
        SendMessageA(GetDlgItem(d.Window(), IDC_RESULTS), LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        d.ClickRow(0);
        d.Press(IDC_CLEAR_SELECTED);
        EXPECT_TRUE(d.NoMessageWithin(1500));
        EXPECT_EQ((std::vector<Row>{ Listed(kPcihdd, kSuspicious) }), d.Rows());
        LeaveDecliningRestart(d);
    });
    EXPECT_TRUE(FileExists(SystemPath(kPcihdd)));
}

}  // namespace
