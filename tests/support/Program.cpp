#include "Program.h"

#include "DialogDriver.h"

#include <gtest/gtest.h>

namespace testing_support {

namespace {
std::string OnDriveZ(std::string path)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return "Z:" + path;
}
}  // namespace

std::string ProgramPath() { return OnDriveZ(ORVEX_EXE_PATH); }

std::string TestDataPath(const std::string& relative) { return OnDriveZ(ORVEX_TEST_DATA "/" + relative); }

Program::Program()
{
    std::string path = ProgramPath();
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    std::string commandLine = "\"" + path + "\"";
    if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &m_info)) {
        ADD_FAILURE() << "cannot start " << path << ": error " << GetLastError();
        return;
    }
    m_window = DialogDriver::WaitForWindow("Tarvik", m_info.dwProcessId, 30000);
    EXPECT_NE(nullptr, m_window) << "the main window did not appear";
}

Program::~Program()
{
    if (m_info.hProcess == nullptr)
        return;
    if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) {
        ADD_FAILURE() << "the program was still running";
        TerminateProcess(m_info.hProcess, 1);
        WaitForSingleObject(m_info.hProcess, 5000);
    }
    CloseHandle(m_info.hThread);
    CloseHandle(m_info.hProcess);
}

DWORD Program::WaitForExit(DWORD timeoutMs)
{
    if (m_info.hProcess == nullptr)
        return STILL_ACTIVE;
    WaitForSingleObject(m_info.hProcess, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_info.hProcess, &code);
    return code;
}

}  // namespace testing_support
