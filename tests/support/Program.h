// Starts the built Orvex.exe as a process of its own, as a user would.
#pragma once

#include <windows.h>

#include <string>

namespace testing_support {

// The Windows path of the built program (on Wine's Z: drive).
std::string ProgramPath();
// The Windows path of a file or folder under tests/data.
std::string TestDataPath(const std::string& relative);

// What the program wrote and returned, run from a command line with its
// output and errors each into a pipe.
struct CommandRun {
    DWORD exitCode;
    std::string output;  // as written: UTF-8 into a pipe
    std::string errors;
};
// Runs the built program with these arguments; a window that opens instead
// is no output, and the run ends with STILL_ACTIVE.
CommandRun RunCommand(const std::string& arguments);

class Program {
public:
    Program();
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    HWND Window() const { return m_window; }  // null if it did not appear
    // Waits for the process to end; its exit code, or STILL_ACTIVE on time-out.
    DWORD WaitForExit(DWORD timeoutMs = 20000);

private:
    PROCESS_INFORMATION m_info = {};
    HWND m_window = nullptr;
};

}  // namespace testing_support
