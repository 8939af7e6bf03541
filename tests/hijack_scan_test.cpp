// Listing and removing image hijacks in the test prefix's registry.
#include "hijack/HijackRepair.h"
#include "support/ListWindow.h"
#include "support/Prefix.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

typedef std::vector<std::pair<std::string, std::string>> Rows;

class HijackScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetImageOptions();
        DeletePending();
    }
    void TearDown() override
    {
        for (const std::string& name : m_locked)
            Unlock(name);
        ResetImageOptions();
        DeletePending();
    }

    // Gives the subkey an empty access list: nobody may open it.
    void Lock(const std::string& name)
    {
        SetKeyLocked(std::string(kImageOptionsKey) + "\\" + name, true);
        m_locked.push_back(name);
    }
    static void Unlock(const std::string& name) { SetKeyLocked(std::string(kImageOptionsKey) + "\\" + name, false); }

    ListWindow m_window;
    std::vector<std::string> m_locked;
};

TEST_F(HijackScan, ListsStringDebuggersInReverseOrder)
{
    AddHijack("alpha.exe", "C:\\bad\\alpha-debugger.exe");
    AddHijack("beta.exe", "ntsd -d");
    AddHijack("gamma.exe", "C:\\Program Files\\x\\y.exe /quiet");
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "gamma.exe", "C:\\Program Files\\x\\y.exe /quiet" },
                     { "beta.exe", "ntsd -d" },
                     { "alpha.exe", "C:\\bad\\alpha-debugger.exe" } }),
              m_window.Rows());
}

TEST_F(HijackScan, ListsOnlyPlainStringsShorterThan260Bytes)
{
    const std::string at259(258, 'a');  // 259 bytes with the terminator
    const std::string at260(259, 'b');
    const char expandable[] = "%windir%\\x.exe";
    const DWORD number = 1;
    AddHijack("a259.exe", at259);
    AddHijack("b260.exe", at260);
    AddImageOption("c-expand.exe", expandable, sizeof(expandable), REG_EXPAND_SZ);
    AddImageOption("d-dword.exe", &number, sizeof(number), REG_DWORD);
    AddImageOption("e-multi.exe", "x\0\0", 3, REG_MULTI_SZ);
    AddImageOption("f-binary.exe", "xyz", 3, REG_BINARY);
    AddImageOption("g-none.exe", nullptr, 0, REG_NONE);  // no debugger value at all
    AddHijack("h-empty.exe", "");
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "h-empty.exe", "" }, { "a259.exe", at259 } }), m_window.Rows());
}

TEST_F(HijackScan, NeverShowsMoreThanTheBytesRead)
{
    const std::string full(259, 'c');
    AddImageOption("a-unterminated.exe", "abc", 3, REG_SZ);
    AddImageOption("b-no-bytes.exe", "", 0, REG_SZ);
    AddImageOption("c-full.exe", full.data(), 259, REG_SZ);  // no room for a terminator
    ScanHijacks(m_window.list);
    Rows rows = m_window.Rows();
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(Rows({ { "b-no-bytes.exe", "" }, { "a-unterminated.exe", "abc" } }),
              Rows(rows.end() - 2, rows.end()));
    // Where the system reports the unterminated 259 bytes as 259, they show in full.
    if (rows.size() == 3) {
        EXPECT_EQ(Rows::value_type("c-full.exe", full), rows[0]);
    }
}

// Values of every type and of awkward sizes, none with a terminator: only
// plain strings shorter than 260 bytes are listed, each with exactly its bytes.
TEST_F(HijackScan, SurvivesDebuggerValuesOfEveryTypeAndSize)
{
    const DWORD types[] = { REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN,
                            REG_LINK, REG_MULTI_SZ, REG_RESOURCE_LIST, REG_QWORD };
    const DWORD sizes[] = { 0, 1, 259, 260, 4096 };
    const std::string filler(4096, 'A');
    Rows expected;
    for (DWORD type : types) {
        for (DWORD size : sizes) {
            char name[64];
            wsprintfA(name, "t%02lu-s%04lu.exe", type, size);
            std::string path = std::string(kImageOptionsKey) + "\\" + name;
            HKEY key;
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                                     KEY_ALL_ACCESS, nullptr, &key, nullptr));
            EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Debugger", 0, type,
                                                    reinterpret_cast<const BYTE*>(filler.data()), size));
            RegCloseKey(key);
            if (type == REG_SZ && size < 260)
                expected.insert(expected.begin(), { name, filler.substr(0, size) });
        }
    }
    ScanHijacks(m_window.list);
    EXPECT_EQ(expected, m_window.Rows());
}

TEST_F(HijackScan, ChinesePathsAreListedAndQueuedAsTheirCharacters)
{
    AddHijack("木马.exe", "C:\\病毒\\木马.exe /s");
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "木马.exe", "C:\\病毒\\木马.exe /s" } }), m_window.Rows());
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_FALSE(ImageOptionExists("木马.exe"));
    // The whole text is one path to the system: its "/" becomes a separator.
    EXPECT_EQ(WideStrings({ L"\\??\\C:\\\x75C5\x6BD2\\\x6728\x9A6C.exe \\s", L"", L"" }), ReadPending());
}

TEST_F(HijackScan, NeverListsTheTemplateSubkeyInAnyCase)
{
    AddHijack("Your Image File Name Here without a path", "x.exe");
    AddHijack("your image file name here WITHOUT A PATH.exe", "y.exe");
    AddHijack("Your Image File Name Here", "z.exe");  // shorter than the template
    AddHijack("Your Image File Name Here without a patX", "w.exe");  // differs in its 40th byte
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "Your Image File Name Here without a patX", "w.exe" }, { "Your Image File Name Here", "z.exe" } }),
              m_window.Rows());
}

TEST_F(HijackScan, SkipsASubkeyThatCannotBeOpenedAndGoesOn)
{
    AddHijack("a.exe", "first.exe");
    AddHijack("b.exe", "locked.exe");
    AddHijack("c.exe", "third.exe");
    Lock("b.exe");
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "c.exe", "third.exe" }, { "a.exe", "first.exe" } }), m_window.Rows());
}

TEST_F(HijackScan, ListsNothingWithoutTheKey)
{
    m_window.list.InsertItem(LVIF_TEXT, 0, "stale", 0, 0, 0, 0);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, kImageOptionsKey));
    ScanHijacks(m_window.list);
    EXPECT_TRUE(m_window.Rows().empty());
}

TEST_F(HijackScan, ClearAllDeletesEveryListedSubkeyThatHasNoSubkeys)
{
    AddHijack("a.exe", "x.exe");
    AddHijack("b.exe", "y.exe");
    AddImageOption("b.exe\\PerProcess", nullptr, 0, REG_NONE);  // b.exe cannot be deleted
    AddImageOption("c.exe", nullptr, 0, REG_NONE);              // not a hijack: kept
    AddHijack("d.exe", "z.exe");
    ScanHijacks(m_window.list);
    ClearAllHijacks(m_window.list);
    EXPECT_FALSE(ImageOptionExists("a.exe"));
    EXPECT_FALSE(ImageOptionExists("d.exe"));
    EXPECT_TRUE(ImageOptionExists("b.exe"));
    EXPECT_TRUE(ImageOptionExists("c.exe"));
    EXPECT_EQ((Rows{ { "b.exe", "y.exe" } }), m_window.Rows());
    bool queued = true;
    ReadPending(&queued);
    EXPECT_FALSE(queued) << "clearing all queues nothing";
}

TEST_F(HijackScan, ClearSelectedDeletesTheSubkeyAndQueuesItsProgram)
{
    AddHijack("a.exe", "C:\\bad\\one.exe");
    AddHijack("b.exe", "C:\\bad\\two.exe");
    ScanHijacks(m_window.list);
    m_window.Select(1);  // a.exe
    ClearSelectedHijack(m_window.list);
    EXPECT_FALSE(ImageOptionExists("a.exe"));
    EXPECT_EQ((Rows{ { "b.exe", "C:\\bad\\two.exe" } }), m_window.Rows());
    EXPECT_EQ(WideStrings({ L"\\??\\C:\\bad\\one.exe", L"", L"" }), ReadPending());
}

TEST_F(HijackScan, ClearSelectedWithAnEmptyDebuggerQueuesNothing)
{
    AddHijack("a.exe", "");
    ScanHijacks(m_window.list);
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_FALSE(ImageOptionExists("a.exe"));
    bool queued = true;
    ReadPending(&queued);
    EXPECT_FALSE(queued);
}

TEST_F(HijackScan, ClearSelectedQueuesEvenWhenTheSubkeyStays)
{
    AddHijack("a.exe", "C:\\bad\\one.exe");
    AddImageOption("a.exe\\Child", nullptr, 0, REG_NONE);
    ScanHijacks(m_window.list);
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_TRUE(ImageOptionExists("a.exe"));
    EXPECT_EQ((Rows{ { "a.exe", "C:\\bad\\one.exe" } }), m_window.Rows());
    EXPECT_EQ(WideStrings({ L"\\??\\C:\\bad\\one.exe", L"", L"" }), ReadPending());
}

TEST_F(HijackScan, DeleteHijackKeyReportsWhetherTheKeyWentAway)
{
    AddHijack("a.exe", "x");
    AddHijack("b.exe", "y");
    AddImageOption("b.exe\\Child", nullptr, 0, REG_NONE);
    EXPECT_EQ(1, DeleteHijackKey("a.exe"));
    EXPECT_EQ(0, DeleteHijackKey("b.exe"));
    EXPECT_EQ(0, DeleteHijackKey("missing.exe"));
    EXPECT_FALSE(ImageOptionExists("a.exe"));
    EXPECT_TRUE(ImageOptionExists("b.exe"));
}

}  // namespace
