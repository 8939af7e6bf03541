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

namespace {
// Reads a pipe to its end: the writer's handles are all closed.
std::string ReadToEnd(HANDLE pipe)
{
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(pipe, chunk, sizeof(chunk), &read, nullptr) && read > 0)
        text.append(chunk, read);
    return text;
}
}  // namespace

CommandRun RunCommand(const std::string& arguments)
{
    CommandRun run = { STILL_ACTIVE, "", "" };
    SECURITY_ATTRIBUTES inherited = { sizeof(inherited), nullptr, TRUE };
    HANDLE output[2] = {};
    HANDLE errors[2] = {};
    const DWORD kRoom = 1 << 20;  // whole reports fit: the pipes are read once it has ended
    if (!CreatePipe(&output[0], &output[1], &inherited, kRoom) || !CreatePipe(&errors[0], &errors[1], &inherited, kRoom)) {
        ADD_FAILURE() << "no pipes";
        return run;
    }
    SetHandleInformation(output[0], HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errors[0], HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output[1];
    startup.hStdError = errors[1];
    std::string commandLine = "\"" + ProgramPath() + "\" " + arguments;
    PROCESS_INFORMATION process = {};
    const bool started = CreateProcessA(ProgramPath().c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process) != FALSE;
    CloseHandle(output[1]);
    CloseHandle(errors[1]);
    if (started) {
        if (WaitForSingleObject(process.hProcess, 60000) == WAIT_TIMEOUT)
            TerminateProcess(process.hProcess, STILL_ACTIVE);
        WaitForSingleObject(process.hProcess, 5000);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        run.output = ReadToEnd(output[0]);
        run.errors = ReadToEnd(errors[0]);
    } else {
        ADD_FAILURE() << "cannot start " << ProgramPath();
    }
    CloseHandle(output[0]);
    CloseHandle(errors[0]);
    return run;
}

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
