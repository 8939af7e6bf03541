// The files the infection check watches, planted in the test prefix's own
// C:\windows: the executables with their reference copies under
// system32\dllcache, and the files the malware drops into system32\drivers.
// Wine ships no userinit.exe, ctfmon.exe, conime.exe and no dllcache, so
// those are planted and removed freely; explorer.exe is Wine's own, so only
// its reference copy is ever planted.
#pragma once

#include "DialogDriver.h"
#include "Prefix.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testing_support {

const char kInfected[] = "感染";
const char kSuspicious[] = "高度可疑";
const DWORD kPage = 4096;

// Watched files, relative to %systemroot%.
const char kUserinit[] = "system32\\userinit.exe";
const char kExplorer[] = "explorer.exe";
const char kCtfmon[] = "system32\\ctfmon.exe";
const char kConime[] = "system32\\conime.exe";
const char kPcihdd[] = "system32\\drivers\\pcihdd.sys";
const char kPuid[] = "system32\\drivers\\puid.sys";
const char kNtfsDll[] = "system32\\drivers\\ntfs.dll";
const char kDllcache[] = "system32\\dllcache";

inline std::string Expand(const std::string& text)
{
    char expanded[MAX_PATH] = "";
    DWORD needed = ExpandEnvironmentStringsA(text.c_str(), expanded, sizeof(expanded));
    EXPECT_TRUE(needed != 0 && needed <= sizeof(expanded)) << text;
    return expanded;
}

// The full path of a file under the windows directory, as the scan shows it.
inline std::string SystemPath(const std::string& relative) { return Expand("%systemroot%\\" + relative); }

// The reference copy of a watched executable.
inline std::string Reference(const std::string& relative)
{
    return std::string(kDllcache) + "\\" + relative.substr(relative.rfind('\\') + 1);
}

// Bytes that change from one position to the next, so that a comparison of
// the wrong range or at the wrong offset shows.
inline std::string Content(size_t size, int seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + i / 251 + seed * 17) & 0xFF);
    return bytes;
}

inline std::string Flip(std::string bytes, size_t at)
{
    bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
    return bytes;
}

inline std::string HeadOf(const std::string& path, DWORD size)
{
    std::string bytes(size, '\0');
    DWORD read = 0;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file) << path;
    if (file != INVALID_HANDLE_VALUE) {
        EXPECT_TRUE(ReadFile(file, &bytes[0], size, &read, nullptr));
        CloseHandle(file);
    }
    return bytes.substr(0, read);
}

inline Row Listed(const char* relative, const char* label) { return Row(SystemPath(relative), label); }

inline std::string CannotDelete(const char* relative)
{
    return "文件: " + SystemPath(relative) + "\n无法直接删除,需要重启";
}

// A queued deletion as the Session Manager value holds it.
inline std::wstring NtPath(const char* relative) { return L"\\??\\" + Widen(SystemPath(relative)); }

class PlantedFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES };
        InitCommonControlsEx(&icc);
        RemovePlanted();  // leftovers of an interrupted run
        DeletePending();
    }
    void TearDown() override
    {
        for (HANDLE file : m_held)
            CloseHandle(file);
        RemovePlanted();
        DeletePending();
    }

    // Every name a test here may plant. Wine's own explorer.exe is not among
    // them: a reference copy left behind would replace it at the next start.
    static void RemovePlanted()
    {
        const std::string planted[] = { kUserinit,           kCtfmon,           kConime,
                                        kPcihdd,             kPuid,             kNtfsDll,
                                        Reference(kUserinit), Reference(kExplorer), Reference(kCtfmon),
                                        Reference(kConime) };
        for (const std::string& relative : planted) {
            std::string path = SystemPath(relative);
            DWORD attributes = GetFileAttributesA(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES)
                continue;
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryA(path.c_str());
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
            EXPECT_FALSE(FileExists(path)) << "cannot remove " << path;
        }
        RemoveDirectoryA(SystemPath(kDllcache).c_str());  // only once empty
    }

    static void Plant(const std::string& relative, const std::string& bytes)
    {
        CreateDirectoryA(SystemPath(kDllcache).c_str(), nullptr);
        WriteBytes(SystemPath(relative), bytes);
    }

    static void PlantDirectory(const char* relative)
    {
        ASSERT_TRUE(CreateDirectoryA(SystemPath(relative).c_str(), nullptr)) << relative;
    }

    // An executable whose first page differs from its reference copy's.
    static void PlantInfected(const char* relative)
    {
        Plant(relative, Content(2 * kPage, 1));
        Plant(Reference(relative), Content(2 * kPage, 2));
    }

    // Makes Wine's explorer.exe differ from its reference copy, or not.
    static void PlantExplorerReference(bool differs)
    {
        std::string head = HeadOf(SystemPath(kExplorer), kPage);
        ASSERT_EQ(kPage, head.size()) << "explorer.exe is shorter than a page";
        Plant(Reference(kExplorer), differs ? Flip(head, 2) : head);
    }

    static void PlantAllSeven()
    {
        PlantInfected(kUserinit);
        PlantExplorerReference(true);
        PlantInfected(kCtfmon);
        PlantInfected(kConime);
        Plant(kPcihdd, Content(100, 3));
        Plant(kPuid, Content(100, 4));
        Plant(kNtfsDll, Content(100, 5));
    }

    static std::vector<Row> AllSevenRows()
    {
        return { Listed(kNtfsDll, kSuspicious), Listed(kPuid, kSuspicious),    Listed(kPcihdd, kSuspicious),
                 Listed(kConime, kInfected),    Listed(kCtfmon, kInfected),    Listed(kExplorer, kInfected),
                 Listed(kUserinit, kInfected) };
    }

    // Keeps the file open the way a running program does: readable by
    // others, but not deletable.
    void Hold(const char* relative)
    {
        std::string path = SystemPath(relative);
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
        m_held.push_back(file);
    }

    std::vector<HANDLE> m_held;
};

}  // namespace testing_support
