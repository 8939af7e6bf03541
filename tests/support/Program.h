// Starts the built Orvex.exe as a process of its own, as a user would.
#pragma once

#include <windows.h>

#include <string>

namespace testing_support {

// The Windows path of the built program (on Wine's Z: drive).
std::string ProgramPath();
// The Windows path of a file or folder under tests/data.
std::string TestDataPath(const std::string& relative);

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
