// The restart-time deletion queue, checked byte for byte in the Session
// Manager's PendingFileRenameOperations value of the test prefix.
#include "support/ImportHook.h"
#include "support/Prefix.h"
#include "system/RestartQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>
#include <string>
#include <thread>

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
    EXPECT_EQ(0, QueueDeleteAtRestart(nullptr));
    EXPECT_EQ(0, QueueDeleteAtRestart(""));
    std::string longPath = "C:\\" + std::string(258, 'x');  // 261 bytes
    ASSERT_EQ(261u, longPath.size());
    EXPECT_EQ(0, QueueDeleteAtRestart(longPath.c_str()));
    EXPECT_EQ(before, ReadPending());
}

TEST_F(RestartQueue, AcceptsPathsOf259And260Bytes)
{
    for (size_t length : { 259, 260 }) {
        DeletePending();
        std::string path = "C:\\" + std::string(length - 3, 'x');
        EXPECT_EQ(1, QueueDeleteAtRestart(path.c_str())) << length;
        EXPECT_EQ(Pair(L"\\??\\" + Widen(path)) + ListEnd(), ReadPending()) << length;
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

TEST_F(RestartQueue, StoresAChinesePathAsItsCharacters)
{
    EXPECT_EQ(1, QueueDeleteAtRestart("C:\\测试\\病毒.exe"));
    EXPECT_EQ(Pair(L"\\??\\C:\\\x6D4B\x8BD5\\\x75C5\x6BD2.exe") + ListEnd(), ReadPending());
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

TEST_F(RestartQueue, MalformedValuesGainThePairWithoutAlteringAnyString)
{
    const std::wstring a = L"\\??\\C:\\A";
    const std::wstring b = L"\\??\\C:\\B";
    const std::string added = Pair(L"\\??\\C:\\Temp\\a.exe") + ListEnd();
    std::string aBytes(reinterpret_cast<const char*>(a.c_str()), a.size() * 2);
    std::string bBytes(reinterpret_cast<const char*>(b.c_str()), b.size() * 2);
    struct Case {
        const char* what;
        std::string before;
        std::string after;
    } cases[] = {
        { "pairs without the list end", WideStrings({ a, b }), WideStrings({ a, b }) + added },
        { "last string without terminator", WideStrings({ a }) + bBytes, WideStrings({ a, b }) + added },
        { "a delete pair without the list end", WideStrings({ a, L"" }), WideStrings({ a, L"" }) + added },
        // A source without destination is read as a deletion: it keeps its own pair.
        { "a source without destination", WideStrings({ a }), WideStrings({ a, L"" }) + added },
        { "a single unterminated string", aBytes, WideStrings({ a, L"" }) + added },
        { "an empty list", ListEnd(), added },
        { "odd length", WideStrings({ a, L"" }) + "Z",
          WideStrings({ a, L"" }) + std::string("Z\0\0\0\0\0", 6) + added },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WritePending(c.before);
        EXPECT_EQ(1, QueueDeleteAtRestart("C:\\Temp\\a.exe"));
        std::string after = ReadPending();
        EXPECT_EQ(c.after, after);
    }
}

TEST_F(RestartQueue, LeavesAValueWithDataAfterItsListEndUntouched)
{
    std::string before = WideStrings({ L"\\??\\C:\\A", L"", L"", L"\\??\\C:\\B", L"", L"" });
    WritePending(before);
    EXPECT_EQ(0, QueueDeleteAtRestart("C:\\Temp\\a.exe"));
    EXPECT_EQ(before, ReadPending());
}

// Another program changing the value right after the size query, as often
// as `changes` says; each change writes the next of `values` (empty: deletes).
struct Interloper {
    static Interloper* current;
    std::vector<std::string> values;
    size_t next = 0;
    int changes = 0;
    void* original = nullptr;

    static LONG WINAPI Query(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
    {
        typedef LONG(WINAPI * Fn)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
        Interloper* self = current;
        LONG status = reinterpret_cast<Fn>(self->original)(key, name, reserved, type, data, size);
        if (data == nullptr && self->changes > 0 && lstrcmpiW(name, L"PendingFileRenameOperations") == 0) {
            --self->changes;
            const std::string& value = self->values[self->next++ % self->values.size()];
            if (value.empty())
                DeletePending();
            else
                WritePending(value);
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

TEST_F(RestartQueue, MeasuresAgainWhenTheValueChangesBeforeTheRead)
{
    const std::string one = Pair(L"\\??\\C:\\other\\one.tmp") + ListEnd();
    std::string many;
    for (int i = 0; i < 50; ++i)
        many += Pair(L"\\??\\C:\\other\\many-" + std::to_wstring(i) + L".tmp");
    const std::string ours = Pair(L"\\??\\C:\\Temp\\a.exe") + ListEnd();

    {
        SCOPED_TRACE("grows: the read no longer fits");
        WritePending(one);
        Interloper grows{ { many + ListEnd() }, 0, 1 };
        EXPECT_EQ(1, grows.Queue("C:\\Temp\\a.exe"));
        EXPECT_EQ(many + ours, ReadPending());
    }
    {
        SCOPED_TRACE("shrinks: the read is shorter than measured");
        WritePending(many + ListEnd());
        Interloper shrinks{ { one }, 0, 1 };
        EXPECT_EQ(1, shrinks.Queue("C:\\Temp\\a.exe"));
        EXPECT_EQ(one.substr(0, one.size() - 2) + ours, ReadPending());
    }
    {
        SCOPED_TRACE("deleted: the read fails");
        WritePending(one);
        Interloper deletes{ { "" }, 0, 1 };
        EXPECT_EQ(1, deletes.Queue("C:\\Temp\\a.exe"));
        EXPECT_EQ(ours, ReadPending());
    }
}

TEST_F(RestartQueue, GivesUpUntouchedWhenTheValueNeverSettles)
{
    // Every change makes the value grow past what was just measured.
    Interloper restless;
    std::string value;
    for (int i = 0; i < 40; ++i) {
        value += Pair(L"\\??\\C:\\other\\grow-" + std::to_wstring(i) + L".tmp");
        restless.values.push_back(value + ListEnd());
    }
    restless.changes = 40;
    WritePending(Pair(L"\\??\\C:\\other\\one.tmp") + ListEnd());
    EXPECT_EQ(0, restless.Queue("C:\\Temp\\a.exe"));
    ASSERT_GT(restless.next, 0u);
    EXPECT_LT(restless.next, 40u) << "measuring again must be bounded";
    EXPECT_EQ(restless.values[restless.next - 1], ReadPending()) << "written although the value never settled";
}

// Another program rewrites the value as fast as it can while pairs are
// queued, so that it often changes between the size query and the read. A
// watcher samples the value all along: it must always be one of that
// program's values with some pairs of ours after it, never a torn copy and
// never our pair alone (a failed read written back).
TEST_F(RestartQueue, SurvivesTheValueChangingUnderneath)
{
    const std::string small = Pair(L"\\??\\C:\\other\\small.tmp");
    std::string large;
    for (int i = 0; i < 200; ++i)
        large += Pair(L"\\??\\C:\\other\\large-" + std::to_wstring(i) + L".tmp");
    const std::string ours = Pair(L"\\??\\C:\\Temp\\a.exe");

    auto valid = [&](const std::string& value) {
        const std::string* bases[] = { &small, &large };
        for (const std::string* base : bases) {
            if (value.compare(0, base->size(), *base) != 0)
                continue;
            size_t at = base->size();
            while (value.compare(at, ours.size(), ours) == 0)
                at += ours.size();
            if (value.size() == at + 2 && value.compare(at, 2, ListEnd()) == 0)
                return true;
        }
        return false;
    };

    WritePending(small + ListEnd());
    std::atomic<bool> stop(false);
    std::thread writer([&] {
        HKEY key;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &key);
        for (int i = 0; !stop; ++i) {
            const std::string value = ((i % 2) ? large : small) + ListEnd();
            RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE*>(value.data()), static_cast<DWORD>(value.size()));
        }
        RegCloseKey(key);
    });
    std::atomic<int> samples(0);
    std::atomic<int> invalid(0);
    std::thread watcher([&] {
        // One query into a buffer larger than any value here: the sample
        // cannot itself be torn by a change between two queries.
        HKEY key;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, &key);
        std::string buffer(1 << 18, '\0');
        while (!stop) {
            DWORD size = static_cast<DWORD>(buffer.size());
            if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&buffer[0]), &size) != ERROR_SUCCESS)
                continue;
            if (!valid(buffer.substr(0, size)))
                ++invalid;
            ++samples;
        }
        RegCloseKey(key);
    });
    int written = 0;
    for (int i = 0; i < 300; ++i)
        written += QueueDeleteAtRestart("C:\\Temp\\a.exe");
    stop = true;
    writer.join();
    watcher.join();

    EXPECT_GT(written, 0);
    EXPECT_GT(samples.load(), 0);
    EXPECT_EQ(0, invalid.load()) << "of " << samples.load() << " samples";
    EXPECT_TRUE(valid(ReadPending()));

    // Once it is left alone, queuing works as ever.
    WritePending(small + ListEnd());
    EXPECT_EQ(1, QueueDeleteAtRestart("C:\\Temp\\a.exe"));
    EXPECT_EQ(small + ours + ListEnd(), ReadPending());
}

}  // namespace
