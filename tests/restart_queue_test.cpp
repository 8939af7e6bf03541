// The restart-time deletion queue, checked byte for byte in the Session
// Manager's PendingFileRenameOperations value of the test prefix.
#include "support/ImportHook.h"
#include "support/Prefix.h"
#include "system/RestartQueue.h"

#include <gtest/gtest.h>

#include <vector>
#include <string>

using namespace testing_support;

namespace {

class RestartQueue : public ::testing::Test {
protected:
    void SetUp() override { DeletePending(); }
    void TearDown() override { DeletePending(); }
};

std::string Pair(const std::wstring& source) { return WideStrings({ source, L"" }); }
std::string ListEnd() { return std::string(2, '\0'); }

TEST_F(RestartQueue, WithNoValueWritesThePathAndThreeZeros)
{
    EXPECT_EQ(1, QueueDeleteAtRestart("C:\\Temp\\a.exe"));
    DWORD type = 0;
    std::string value = ReadPending(nullptr, &type);
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_EQ(WideStrings({ L"\\??\\C:\\Temp\\a.exe", L"", L"" }), value);
}

TEST_F(RestartQueue, AppendsAfterAnExistingPairKeepingIt)
{
    WritePending(Pair(L"\\??\\C:\\other\\old.dll") + ListEnd());
    EXPECT_EQ(1, QueueDeleteAtRestart("C:\\Temp\\a.exe"));
    EXPECT_EQ(Pair(L"\\??\\C:\\other\\old.dll") + Pair(L"\\??\\C:\\Temp\\a.exe") + ListEnd(), ReadPending());
}

TEST_F(RestartQueue, KeepsARenamePairAndItsDestination)
{
    std::string rename = WideStrings({ L"\\??\\C:\\other\\new.dll", L"!\\??\\C:\\other\\live.dll" });
    WritePending(rename + ListEnd());
    EXPECT_EQ(1, QueueDeleteAtRestart("C:\\Temp\\a.exe"));
    EXPECT_EQ(rename + Pair(L"\\??\\C:\\Temp\\a.exe") + ListEnd(), ReadPending());
}

TEST_F(RestartQueue, TwoCallsWithTheSamePathAppendTwoPairs)
{
    EXPECT_EQ(1, QueueDeleteAtRestart("C:\\Temp\\a.exe"));
    EXPECT_EQ(1, QueueDeleteAtRestart("C:\\Temp\\a.exe"));
    EXPECT_EQ(Pair(L"\\??\\C:\\Temp\\a.exe") + Pair(L"\\??\\C:\\Temp\\a.exe") + ListEnd(), ReadPending());
}

TEST_F(RestartQueue, RefusesAnEmptyOrOverlongPathWithoutTouchingTheValue)
{
    std::string before = Pair(L"\\??\\C:\\other\\old.dll") + ListEnd();
    WritePending(before);
    EXPECT_EQ(0, QueueDeleteAtRestart(static_cast<const char*>(nullptr)));
    EXPECT_EQ(0, QueueDeleteAtRestart("C:\\Temp\\\xFF.exe")) << "no text in the ANSI code page";
    EXPECT_EQ(0, QueueDeleteAtRestart(""));
    std::string longPath = "C:\\" + std::string(258, 'x');  // 261 bytes
    ASSERT_EQ(261u, longPath.size());
    EXPECT_EQ(0, QueueDeleteAtRestart(longPath.c_str()));
    EXPECT_EQ(before, ReadPending());
}

// The limits count bytes of the ANSI code page: 中 takes two.
TEST_F(RestartQueue, AcceptsPathsUpToItsLimitsInAnsiBytes)
{
    std::string chinese;
    for (int i = 0; i < 60; ++i)
        chinese += "中";
    const std::string dir = FreshDirectory(chinese);  // 135 bytes, 75 characters
    struct Case {
        const char* what;
        std::string path;
        bool relative;  // to `dir`
        int result;
    } cases[] = {
        { "259 bytes", "C:\\" + std::string(256, 'x'), false, 1 },
        { "260 bytes", "C:\\" + std::string(257, 'x'), false, 1 },
        { "260 bytes, 129 characters", "C:\\" + chinese + chinese.substr(0, 136) + "x", false, 1 },
        { "an NT path of 264 bytes", std::string(124, 'x'), true, 1 },
        { "an NT path of 265 bytes, 205 characters", std::string(125, 'x'), true, 0 },
    };
    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof(saved), saved);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeletePending();
        ASSERT_TRUE(SetCurrentDirectoryA(c.relative ? dir.c_str() : saved));
        int result = QueueDeleteAtRestart(c.path.c_str());
        SetCurrentDirectoryA(saved);
        EXPECT_EQ(c.result, result);
        std::string full = c.relative ? dir + "\\" + c.path : c.path;
        EXPECT_EQ(c.result ? Pair(L"\\??\\" + Widen(full)) + ListEnd() : std::string(), ReadPending());
    }
}

TEST_F(RestartQueue, RelativeTextWithArgumentsIsOnePathUnderTheCurrentDirectory)
{
    std::string dir = FreshDirectory("relative");
    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof(saved), saved);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    int result = QueueDeleteAtRestart("evil.exe -silent");
    SetCurrentDirectoryA(saved);
    EXPECT_EQ(1, result);
    EXPECT_EQ(Pair(L"\\??\\" + Widen(dir) + L"\\evil.exe -silent") + ListEnd(), ReadPending());
}

TEST_F(RestartQueue, ResetsAReadOnlyFileToNormal)
{
    std::string file = FreshDirectory("attributes") + "\\locked.exe";
    WriteBytes(file, "MZ");
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(1, QueueDeleteAtRestart(file.c_str()));
    DWORD attributes = GetFileAttributesA(file.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_EQ(0u, attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
}

// Read in the ANSI code page: 淺 is 9C 5C in GBK, and its second byte is no "\\".
TEST_F(RestartQueue, StoresAChinesePathAsItsCharacters)
{
    struct Case {
        const char* path;
        const wchar_t* stored;
    } cases[] = {
        { "C:\\测试\\病毒.exe", L"\\??\\C:\\\x6D4B\x8BD5\\\x75C5\x6BD2.exe" },
        { "C:\\Temp\\淺\\a.exe", L"\\??\\C:\\Temp\\\x6DFA\\a.exe" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        DeletePending();
        EXPECT_EQ(1, QueueDeleteAtRestart(c.path));
        EXPECT_EQ(Pair(c.stored) + ListEnd(), ReadPending());
    }
}

// Other programs' pairs come back exactly as they were written, even with
// characters that the ANSI code page cannot hold.
TEST_F(RestartQueue, KeepsOtherProgramsPairsByteForByte)
{
    std::wstring thai = L"\\??\\C:\\\x0E01\x0E02\\file.dll";
    std::wstring emoji = L"\\??\\C:\\\xD83D\xDE00.tmp";
    std::string before = Pair(thai) + WideStrings({ emoji, L"\\??\\C:\\\x00E9t\x00E9.tmp" });
    WritePending(before + ListEnd());
    EXPECT_EQ(1, QueueDeleteAtRestart("C:\\Temp\\a.exe"));
    EXPECT_EQ(before + Pair(L"\\??\\C:\\Temp\\a.exe") + ListEnd(), ReadPending());
}

// Only a list of whole pairs gains our pair. Anything else another program
// stored is left exactly as it is, type and bytes: appended to, a REG_SZ
// would become a list the Session Manager carries out, and a lone source
// would become an order to delete it.
TEST_F(RestartQueue, AppendsOnlyToAListOfWholePairs)
{
    const std::wstring a = L"\\??\\C:\\A";
    const std::wstring b = L"\\??\\C:\\B";
    const std::string added = Pair(L"\\??\\C:\\Temp\\a.exe") + ListEnd();
    const std::string aBytes(reinterpret_cast<const char*>(a.c_str()), a.size() * 2);
    const std::string bBytes(reinterpret_cast<const char*>(b.c_str()), b.size() * 2);
    const std::string untouched;
    const DWORD number = 1;
    struct Case {
        const char* what;
        DWORD type;
        std::string before;
        std::string after;  // empty: the call refuses and the value stays as it was
    } cases[] = {
        { "pairs without the list end", REG_MULTI_SZ, WideStrings({ a, b }), WideStrings({ a, b }) + added },
        { "a delete pair without the list end", REG_MULTI_SZ, WideStrings({ a, L"" }),
          WideStrings({ a, L"" }) + added },
        { "an empty list", REG_MULTI_SZ, ListEnd(), added },
        { "no bytes", REG_MULTI_SZ, "", added },
        { "a source without destination", REG_MULTI_SZ, WideStrings({ a }), untouched },
        { "a single unterminated string", REG_MULTI_SZ, aBytes, untouched },
        { "last string without terminator", REG_MULTI_SZ, WideStrings({ a }) + bBytes, untouched },
        { "odd length", REG_MULTI_SZ, WideStrings({ a, L"" }) + "Z", untouched },
        { "data after the list end", REG_MULTI_SZ, WideStrings({ a, L"", L"", b, L"", L"" }), untouched },
        { "REG_SZ", REG_SZ, WideStrings({ L"\\??\\C:\\keep.dll" }), untouched },
        { "REG_EXPAND_SZ", REG_EXPAND_SZ, WideStrings({ L"%TEMP%\\keep.dll", L"" }), untouched },
        { "REG_BINARY", REG_BINARY, std::string("\x5C\0?\0?\0\x5C\0", 8), untouched },
        { "REG_DWORD", REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof(number)), untouched },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WritePending(c.before, c.type);
        EXPECT_EQ(c.after.empty() ? 0 : 1, QueueDeleteAtRestart("C:\\Temp\\a.exe"));
        DWORD type = 0;
        EXPECT_EQ(c.after.empty() ? c.before : c.after, ReadPending(nullptr, &type));
        EXPECT_EQ(c.after.empty() ? c.type : static_cast<DWORD>(REG_MULTI_SZ), type);
    }
}

// Another program changing the value right after each of our size queries,
// as often as `changes` says; each change writes the next of `values`
// (empty: deletes the value) with type `type`. `measured` counts the size
// queries.
struct Interloper {
    static Interloper* current;
    std::vector<std::string> values;
    int changes = 0;
    DWORD type = REG_MULTI_SZ;
    size_t next = 0;
    int measured = 0;
    void* original = nullptr;

    static LONG WINAPI Query(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
    {
        typedef LONG(WINAPI * Fn)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
        Interloper* self = current;
        LONG status = reinterpret_cast<Fn>(self->original)(key, name, reserved, type, data, size);
        if (data == nullptr && lstrcmpiW(name, L"PendingFileRenameOperations") == 0) {
            ++self->measured;
            if (self->changes > 0) {
                --self->changes;
                const std::string& value = self->values[self->next++ % self->values.size()];
                if (value.empty())
                    DeletePending();
                else
                    WritePending(value, self->type);
            }
        }
        return status;
    }

    // Runs QueueDeleteAtRestart with this interloper in place.
    int Queue(const char* path)
    {
        ImportHook hook("advapi32.dll", "RegQueryValueExW", reinterpret_cast<void*>(&Query));
        EXPECT_TRUE(hook.Installed());
        original = hook.Original();
        current = this;
        int result = QueueDeleteAtRestart(path);
        current = nullptr;
        return result;
    }
};
Interloper* Interloper::current = nullptr;

// The call measures again when the value no longer fits what it measured,
// 8 times in all, and never writes back a value it did not read whole.
TEST_F(RestartQueue, MeasuresAgainWhenTheValueChangesBeforeTheRead)
{
    const std::string one = Pair(L"\\??\\C:\\other\\one.tmp") + ListEnd();
    std::vector<std::string> growing;  // each longer than the one before
    std::string pairs;
    for (int i = 0; i < 8; ++i) {
        pairs += Pair(L"\\??\\C:\\other\\grow-" + std::to_wstring(i) + L".tmp");
        growing.push_back(pairs + ListEnd());
    }
    const std::string ours = Pair(L"\\??\\C:\\Temp\\a.exe") + ListEnd();
    auto withOurs = [&](const std::string& value) { return value.substr(0, value.size() - 2) + ours; };
    const std::vector<std::string> sevenTimes(growing.begin(), growing.begin() + 7);
    struct Case {
        const char* what;
        std::string before;
        Interloper other;
        int result;
        std::string after;
        int measured;
    } cases[] = {
        { "grows: the read no longer fits", one, { { growing[0] }, 1 }, 1, withOurs(growing[0]), 2 },
        { "shrinks: the read is shorter than measured", growing[7], { { one }, 1 }, 1, withOurs(one), 1 },
        { "deleted: the read fails", one, { { "" }, 1 }, 1, ours, 2 },
        { "becomes a REG_SZ: left as the other program wrote it", growing[7], { { one }, 1, REG_SZ }, 0, one, 2 },
        { "grows 7 times, then settles", one, { sevenTimes, 7 }, 1, withOurs(growing[6]), 8 },
        { "grows 8 times: given up", one, { growing, 8 }, 0, growing[7], 8 },
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        WritePending(c.before);
        EXPECT_EQ(c.result, c.other.Queue("C:\\Temp\\a.exe"));
        EXPECT_EQ(c.measured, c.other.measured) << "size queries";
        DWORD type = 0;
        EXPECT_EQ(c.after, ReadPending(nullptr, &type));
        EXPECT_EQ(c.result ? static_cast<DWORD>(REG_MULTI_SZ) : c.other.type, type);
    }
}

}  // namespace
