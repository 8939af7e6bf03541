// Measures Orvex under Wine against Wine's own programs doing similar work,
// all in one run so that each figure is a ratio of two times taken on the
// same machine at the same moment:
//   1. the hijack scan over 10,000 Image File Execution Options subkeys
//      against `reg query ... /s` over the same key;
//   2. queuing a deletion when PendingFileRenameOperations already holds
//      1,000 pairs against queuing it into an absent value (and, for the
//      shape of the curve, into values of up to 40,000 pairs);
//   3. starting Orvex.exe until its window shows against starting notepad.
// It also prints the size of the built Orvex.exe first. It changes the registry of
// the prefix it runs in: run it in a throwaway prefix (tools/bench.sh).
#include "hijack/HijackRepair.h"
#include "system/RestartQueue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

const char kImageOptionsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options";
const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

const int kSubkeys = 10000;
const int kHijackEvery = 10;  // one subkey in ten carries a debugger value, all naming one program
const char kDebugger[] = "C:\\bench\\debugger.exe";
const int kSignedPrograms = 100;
const int kScanRuns = 5;
const int kQueueRuns = 50;
const int kLargeQueueRuns = 20;
const int kStartRuns = 5;

// ---- timing ---------------------------------------------------------------

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string Runs(const std::vector<double>& seconds, double scale, const char* unit)
{
    std::string text;
    char one[32];
    for (double s : seconds) {
        std::snprintf(one, sizeof(one), "%s%.3f", text.empty() ? "" : " ", s * scale);
        text += one;
    }
    return text + " " + unit;
}

bool g_failed = false;

void Fail(const char* what, long code)
{
    std::printf("  ERROR: %s (%ld)\n", what, code);
    std::fflush(stdout);
    g_failed = true;
}

void PumpMessages()
{
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

// ---- 1. the hijack scan against reg query -----------------------------------

std::string SubkeyName(int index)
{
    char name[64];
    std::snprintf(name, sizeof(name), "orvex-bench-%05d.exe", index);
    return name;
}

bool PlantSubkeys(HKEY options)
{
    for (int i = 0; i < kSubkeys; ++i) {
        HKEY subkey;
        LONG status = ::RegCreateKeyExA(options, SubkeyName(i).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                        &subkey, nullptr);
        if (status != ERROR_SUCCESS) {
            Fail("cannot create an image options subkey", status);
            return false;
        }
        if (i % kHijackEvery == 0) {
            status = ::RegSetValueExA(subkey, "debugger", 0, REG_SZ, reinterpret_cast<const BYTE*>(kDebugger),
                                      static_cast<DWORD>(std::strlen(kDebugger) + 1));
            if (status != ERROR_SUCCESS)
                Fail("cannot set a debugger value", status);
        }
        ::RegCloseKey(subkey);
    }
    return true;
}

void RemoveSubkeys(HKEY options)
{
    for (int i = 0; i < kSubkeys; ++i)
        ::RegDeleteKeyA(options, SubkeyName(i).c_str());
}

DWORD SubkeyCount(HKEY key)
{
    DWORD count = 0;
    ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr);
    return count;
}

// A report-view list with two columns, as the main window's: hidden (a bare
// popup never shown) or visible (the child of a shown top-level window).
class BenchList {
public:
    explicit BenchList(bool visible)
    {
        HINSTANCE instance = ::GetModuleHandleA(nullptr);
        DWORD style = LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
        if (visible) {
            WNDCLASSA frameClass = {};
            frameClass.lpfnWndProc = ::DefWindowProcA;
            frameClass.hInstance = instance;
            frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            frameClass.lpszClassName = "OrvexBenchFrame";
            ::RegisterClassA(&frameClass);
            m_frame = ::CreateWindowExA(0, "OrvexBenchFrame", "Orvex bench", WS_OVERLAPPEDWINDOW, 40, 40, 530,
                                        600, nullptr, nullptr, instance, nullptr);
            list.m_hWnd = ::CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 10, 60, 500, 460,
                                            m_frame, nullptr, instance, nullptr);
        } else {
            list.m_hWnd = ::CreateWindowExA(0, WC_LISTVIEWA, "", WS_POPUP | style, 0, 0, 500, 460, nullptr,
                                            nullptr, instance, nullptr);
        }
        list.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE);
        list.InsertColumn(0, "name", LVCFMT_LEFT, 150);
        list.InsertColumn(1, "debugger", LVCFMT_LEFT, 330);
        if (m_frame != nullptr) {
            ::ShowWindow(m_frame, SW_SHOW);
            ::UpdateWindow(m_frame);
            double until = Now() + 0.5;  // let the window settle on screen
            while (Now() < until) {
                PumpMessages();
                ::Sleep(10);
            }
        }
    }
    ~BenchList()
    {
        ::DestroyWindow(m_frame != nullptr ? m_frame : list.m_hWnd);
        PumpMessages();
    }
    BenchList(const BenchList&) = delete;
    BenchList& operator=(const BenchList&) = delete;

    bool Visible() const { return ::IsWindowVisible(list.m_hWnd) != FALSE; }

    CListCtrl list;

private:
    HWND m_frame = nullptr;
};

// One scan: the call itself, then (for a visible list) the repaint it asks
// for, as the dialog's message loop would do it next.
double TimeScan(BenchList& bench, int* rows)
{
    double start = Now();
    ScanHijacks(bench.list);
    ::UpdateWindow(bench.list.m_hWnd);
    double seconds = Now() - start;
    *rows = bench.list.GetItemCount();
    PumpMessages();
    return seconds;
}

// The same subkeys walked bare: each opened, and its debugger, GlobalFlag
// and UseFilter read as plain values, with nothing kept or shown. The
// least any scan of them can cost.
double TimeBareWalk(HKEY options, int* found)
{
    double start = Now();
    *found = 0;
    wchar_t name[MAX_PATH];
    for (DWORD index = 0;; ++index) {
        DWORD length = MAX_PATH;
        if (::RegEnumKeyExW(options, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY subkey = nullptr;
        if (::RegOpenKeyExW(options, name, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &subkey) != ERROR_SUCCESS)
            continue;
        wchar_t text[MAX_PATH + 1];
        DWORD size = sizeof(text);
        if (::RegQueryValueExW(subkey, L"debugger", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) ==
            ERROR_SUCCESS)
            ++*found;
        for (const wchar_t* number : { L"GlobalFlag", L"UseFilter" }) {
            DWORD value = 0;
            size = sizeof(value);
            ::RegQueryValueExW(subkey, number, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        }
        ::RegCloseKey(subkey);
    }
    return Now() - start;
}

struct ChildRun {
    double seconds = 0;
    unsigned long long bytes = 0;
    unsigned long lines = 0;
    DWORD exitCode = STILL_ACTIVE;
};

// Runs a console command with its output thrown away (NUL) or sent into a
// pipe that is read to the end; timed from just before CreateProcess to the
// process's end.
ChildRun RunCommand(const std::string& commandLine, bool toPipe)
{
    ChildRun run;
    SECURITY_ATTRIBUTES inherit = { sizeof(inherit), nullptr, TRUE };
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    HANDLE nul = ::CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
    if (toPipe) {
        if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 16)) {
            Fail("cannot create a pipe", static_cast<long>(::GetLastError()));
            ::CloseHandle(nul);
            return run;
        }
        ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    }

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = toPipe ? writeEnd : nul;
    startup.hStdError = toPipe ? writeEnd : nul;
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;

    double start = Now();
    BOOL started = ::CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                   &startup, &info);
    if (writeEnd != nullptr)
        ::CloseHandle(writeEnd);
    if (started) {
        static char buffer[1 << 16];
        DWORD got = 0;
        while (toPipe && ::ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
            run.bytes += got;
            run.lines += static_cast<unsigned long>(std::count(buffer, buffer + got, '\n'));
        }
        ::WaitForSingleObject(info.hProcess, INFINITE);
        run.seconds = Now() - start;
        ::GetExitCodeProcess(info.hProcess, &run.exitCode);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    } else {
        Fail("cannot start reg.exe", static_cast<long>(::GetLastError()));
    }
    if (readEnd != nullptr)
        ::CloseHandle(readEnd);
    ::CloseHandle(nul);
    return run;
}

void BenchScan()
{
    std::printf("1. Hijack scan against reg query /s\n");
    HKEY options = nullptr;
    LONG status = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kImageOptionsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &options, nullptr);
    if (status != ERROR_SUCCESS) {
        Fail("cannot open Image File Execution Options", status);
        return;
    }
    DWORD before = SubkeyCount(options);
    ::CreateDirectoryA("C:\\bench", nullptr);
    char notepad[MAX_PATH];
    ::ExpandEnvironmentStringsA("%systemroot%\\system32\\notepad.exe", notepad, sizeof(notepad));
    if (!::CopyFileA(notepad, kDebugger, FALSE))
        Fail("cannot write the debugger's program", static_cast<long>(::GetLastError()));
    double plantStart = Now();
    if (!PlantSubkeys(options)) {
        RemoveSubkeys(options);
        ::RegCloseKey(options);
        return;
    }
    const int hijacks = (kSubkeys + kHijackEvery - 1) / kHijackEvery;
    std::printf("  subkeys: %lu (%lu were there before), %d with a REG_SZ debugger; planted in %.2f s\n",
                static_cast<unsigned long>(SubkeyCount(options)), static_cast<unsigned long>(before), hijacks,
                Now() - plantStart);
    std::fflush(stdout);

    INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_LISTVIEW_CLASSES };
    ::InitCommonControlsEx(&icc);

    // The runs alternate, so that a slow stretch of the machine falls on
    // all four alike.
    BenchList hidden(false);
    BenchList visible(true);
    if (!visible.Visible())
        Fail("the visible list is not visible", 0);
    const std::string query = std::string("reg.exe query \"HKLM\\") + kImageOptionsKey + "\" /s";
    std::vector<double> hiddenTimes, visibleTimes, nulTimes, pipeTimes, bareTimes;
    ChildRun piped;
    int rows = 0;
    TimeScan(hidden, &rows);  // untimed warm-ups of each
    TimeScan(visible, &rows);
    RunCommand(query, false);
    for (int run = 0; run < kScanRuns; ++run) {
        visibleTimes.push_back(TimeScan(visible, &rows));
        if (rows != hijacks)
            Fail("the visible list's row count differs from the hijacks planted", rows);
        ChildRun toNul = RunCommand(query, false);
        nulTimes.push_back(toNul.seconds);
        hiddenTimes.push_back(TimeScan(hidden, &rows));
        if (rows != hijacks)
            Fail("the hidden list's row count differs from the hijacks planted", rows);
        int walked = 0;
        bareTimes.push_back(TimeBareWalk(options, &walked));
        if (walked != hijacks)
            Fail("the bare walk found another count of debuggers", walked);
        piped = RunCommand(query, true);
        pipeTimes.push_back(piped.seconds);
        if (toNul.exitCode != 0 || piped.exitCode != 0)
            Fail("reg query failed", static_cast<long>(toNul.exitCode != 0 ? toNul.exitCode : piped.exitCode));
        std::printf("  run %d: scan visible %.3f s, reg query to NUL %.3f s, scan hidden %.3f s,"
                    " bare walk %.3f s, reg query to a pipe %.3f s\n",
                    run + 1, visibleTimes.back(), nulTimes.back(), hiddenTimes.back(), bareTimes.back(),
                    pipeTimes.back());
        std::fflush(stdout);
    }
    // The cost of starting reg.exe at all: a query of one small subkey.
    std::vector<double> startTimes;
    for (int run = 0; run < kScanRuns; ++run)
        startTimes.push_back(
            RunCommand(std::string("reg.exe query \"HKLM\\") + kImageOptionsKey + "\\" + SubkeyName(0) + "\"", false)
                .seconds);

    double scanVisible = Median(visibleTimes);
    double scanHidden = Median(hiddenTimes);
    double regNul = Median(nulTimes);
    double regPipe = Median(pipeTimes);
    std::printf("  ScanHijacks, visible list (with its repaint): %.3f s median  [%s]\n", scanVisible,
                Runs(visibleTimes, 1, "s").c_str());
    std::printf("  ScanHijacks, hidden list:                     %.3f s median  [%s]\n", scanHidden,
                Runs(hiddenTimes, 1, "s").c_str());
    double bare = Median(bareTimes);
    std::printf("  bare walk reading the same values:            %.3f s median  [%s]\n", bare,
                Runs(bareTimes, 1, "s").c_str());
    std::printf("  reg query /s, output to NUL:                  %.3f s median  [%s]\n", regNul,
                Runs(nulTimes, 1, "s").c_str());
    std::printf("  reg query /s, output drained from a pipe:     %.3f s median  [%s]\n", regPipe,
                Runs(pipeTimes, 1, "s").c_str());
    std::printf("    its output: %llu bytes, %lu lines; reg.exe start with a one-key query: %.3f s median\n",
                piped.bytes, piped.lines, Median(startTimes));
    std::printf("  RATIO scan (visible list) / reg query to NUL: %.3f   (aim: <= 1)\n", scanVisible / regNul);
    std::printf("  ratio scan (visible list) / reg query to a pipe: %.3f\n", scanVisible / regPipe);
    std::printf("  ratio scan (hidden list) / reg query to NUL: %.3f\n", scanHidden / regNul);
    std::printf("  RATIO scan (hidden list) / bare walk: %.3f   (aim: <= 1.25)\n", scanHidden / bare);
    std::fflush(stdout);

    RemoveSubkeys(options);
    if (SubkeyCount(options) != before)
        Fail("subkeys were left behind", static_cast<long>(SubkeyCount(options)));
    ::RegCloseKey(options);
}

// Scans 100 image options subkeys whose debuggers name 100 distinct copies
// of `program`, each checked once: the cost of the publisher column.
double TimeDistinctPrograms(HKEY options, const char* program, const char* name)
{
    for (int i = 0; i < kSignedPrograms; ++i) {
        char path[MAX_PATH];
        std::snprintf(path, sizeof(path), "C:\\bench\\%s-%03d.exe", name, i);
        if (!::CopyFileA(program, path, FALSE))
            Fail("cannot copy a program", static_cast<long>(::GetLastError()));
        HKEY subkey = nullptr;
        if (::RegCreateKeyExA(options, SubkeyName(i).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &subkey,
                              nullptr) == ERROR_SUCCESS) {
            ::RegSetValueExA(subkey, "debugger", 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                             static_cast<DWORD>(std::strlen(path) + 1));
            ::RegCloseKey(subkey);
        }
    }
    BenchList hidden(false);
    std::vector<double> times;
    int rows = 0;
    for (int run = 0; run < kScanRuns; ++run) {
        times.push_back(TimeScan(hidden, &rows));
        if (rows != kSignedPrograms)
            Fail("the scan's row count differs from the programs planted", rows);
    }
    for (int i = 0; i < kSignedPrograms; ++i)
        ::RegDeleteKeyA(options, SubkeyName(i).c_str());
    std::printf("  100 rows naming 100 distinct %s programs: %.3f s median  [%s]\n", name, Median(times),
                Runs(times, 1, "s").c_str());
    std::fflush(stdout);
    return Median(times);
}

// The publisher column over programs that all differ: signed ones (a copy
// of notepad.exe signed by tools/bench.sh, named by ORVEX_BENCH_SIGNED)
// against unsigned ones.
void BenchSignedScan()
{
    std::printf("1b. Scans whose rows name distinct programs\n");
    char program[MAX_PATH] = "";
    if (::GetEnvironmentVariableA("ORVEX_BENCH_SIGNED", program, sizeof(program)) == 0) {
        Fail("ORVEX_BENCH_SIGNED names no signed program", 0);
        return;
    }
    HKEY options = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kImageOptionsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &options,
                          nullptr) != ERROR_SUCCESS) {
        Fail("cannot open Image File Execution Options", 0);
        return;
    }
    char notepad[MAX_PATH];
    ::ExpandEnvironmentStringsA("%systemroot%\\system32\\notepad.exe", notepad, sizeof(notepad));
    const double unsignedScan = TimeDistinctPrograms(options, notepad, "unsigned");
    const double signedScan = TimeDistinctPrograms(options, program, "signed");
    std::printf("  signed / unsigned: %.2f; %.1f ms for each signed program\n", signedScan / unsignedScan,
                1000 * signedScan / kSignedPrograms);
    std::fflush(stdout);
    ::RegCloseKey(options);
}

// ---- 2. queuing a deletion into a long value --------------------------------

std::wstring PendingPairs(int count)
{
    std::wstring text;
    wchar_t source[64];
    for (int i = 0; i < count; ++i) {
        std::swprintf(source, sizeof(source) / sizeof(source[0]), L"\\??\\C:\\orvex-bench\\queued-%05d.tmp", i);
        text += source;
        text += L'\0';
        text += L'\0';  // empty destination: a deletion
    }
    text += L'\0';  // the list's end
    return text;
}

// Sets the value to `pairs` (or deletes it when empty), then times one call.
double TimeQueue(HKEY key, const std::wstring& pairs, int count)
{
    if (count == 0) {
        ::RegDeleteValueW(key, kPendingValue);
    } else {
        LONG status = ::RegSetValueExW(key, kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(pairs.data()),
                                       static_cast<DWORD>(pairs.size() * sizeof(wchar_t)));
        if (status != ERROR_SUCCESS)
            Fail("cannot write PendingFileRenameOperations", status);
    }
    double start = Now();
    int written = QueueDeleteAtRestart("C:\\orvex-bench\\new-entry.tmp");
    double seconds = Now() - start;
    if (written != 1)
        Fail("QueueDeleteAtRestart did not write", written);

    // The value grew by exactly the new pair.
    const std::wstring added = L"\\??\\C:\\orvex-bench\\new-entry.tmp";
    DWORD size = 0;
    ::RegQueryValueExW(key, kPendingValue, nullptr, nullptr, nullptr, &size);
    DWORD expected = static_cast<DWORD>((pairs.size() + added.size() + 2) * sizeof(wchar_t));
    if (count == 0)
        expected = static_cast<DWORD>((added.size() + 3) * sizeof(wchar_t));
    if (size != expected)
        Fail("the value does not hold the pairs plus the new one", static_cast<long>(size));
    return seconds;
}

// What any append must cost at least: reading the value whole and writing
// it back, with the buffer already in hand.
double TimeRegistryRoundTrip(HKEY key, const std::wstring& pairs, int count)
{
    DWORD bytes = static_cast<DWORD>(pairs.size() * sizeof(wchar_t));
    if (count == 0)
        ::RegDeleteValueW(key, kPendingValue);
    else
        ::RegSetValueExW(key, kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(pairs.data()), bytes);
    static std::vector<BYTE> buffer;
    buffer.resize(bytes + 64);
    double start = Now();
    DWORD size = static_cast<DWORD>(buffer.size());
    ::RegQueryValueExW(key, kPendingValue, nullptr, nullptr, buffer.data(), &size);
    if (count == 0)
        size = 0;
    ::RegSetValueExW(key, kPendingValue, 0, REG_MULTI_SZ, buffer.data(), size);
    return Now() - start;
}

void BenchQueue()
{
    std::printf("2. QueueDeleteAtRestart with 1,000 pairs already queued against none\n");
    HKEY key = nullptr;
    LONG status = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS) {
        Fail("cannot open the Session Manager key", status);
        return;
    }
    // Kept to be put back afterwards.
    DWORD savedType = 0;
    DWORD savedSize = 0;
    bool hadValue = ::RegQueryValueExW(key, kPendingValue, nullptr, &savedType, nullptr, &savedSize) == ERROR_SUCCESS;
    std::vector<BYTE> saved(savedSize + 2);
    if (hadValue)
        ::RegQueryValueExW(key, kPendingValue, nullptr, &savedType, saved.data(), &savedSize);

    // The main pair of figures (none, 1,000) and, to see the shape of the
    // curve, larger values; each size's calls alternate with the others'.
    const int counts[] = { 0, 1000, 2500, 5000, 10000, 20000, 40000 };
    const int sizes = sizeof(counts) / sizeof(counts[0]);
    std::vector<std::wstring> values;
    for (int count : counts)
        values.push_back(PendingPairs(count));
    std::vector<std::vector<double>> queueTimes(sizes), roundTrips(sizes);
    for (int i = 0; i < sizes; ++i)  // untimed warm-ups
        TimeQueue(key, values[i], counts[i]);
    for (int run = 0; run < kQueueRuns; ++run) {
        for (int i = 0; i < sizes; ++i) {
            if (counts[i] > 1000 && run >= kLargeQueueRuns)
                continue;
            queueTimes[i].push_back(TimeQueue(key, values[i], counts[i]));
            roundTrips[i].push_back(TimeRegistryRoundTrip(key, values[i], counts[i]));
        }
    }

    if (hadValue)
        ::RegSetValueExW(key, kPendingValue, 0, savedType, saved.data(), savedSize);
    else
        ::RegDeleteValueW(key, kPendingValue);
    ::RegCloseKey(key);

    const char* heading = "  %8s %8s  %-33s  %-18s %s\n";
    std::printf(heading, "existing", "value", "QueueDeleteAtRestart", "per existing pair", "registry read+write");
    std::printf(heading, "pairs", "bytes", "  median (runs)  [min, max]", "beyond the empty", "   alone, median");
    double none = Median(queueTimes[0]);
    for (int i = 0; i < sizes; ++i) {
        double t = Median(queueTimes[i]);
        char perPair[32] = "-";
        if (counts[i] > 0)
            std::snprintf(perPair, sizeof(perPair), "%.3f us", (t - none) / counts[i] * 1e6);
        std::printf("  %8d %8lu  %7.3f ms (%2d)  [%6.3f, %6.3f]  %-18s %7.3f ms\n", counts[i],
                    counts[i] == 0 ? 0ul : static_cast<unsigned long>(values[i].size() * sizeof(wchar_t)), t * 1e3,
                    static_cast<int>(queueTimes[i].size()),
                    *std::min_element(queueTimes[i].begin(), queueTimes[i].end()) * 1e3,
                    *std::max_element(queueTimes[i].begin(), queueTimes[i].end()) * 1e3, perPair,
                    Median(roundTrips[i]) * 1e3);
    }
    std::printf("  RATIO 1,000 pairs / none: %.2f   (aim: linear in the existing value)\n",
                Median(queueTimes[1]) / none);
    std::fflush(stdout);
}

// ---- 3. start to a shown window -------------------------------------------

struct WindowSearch {
    DWORD processId;
    const char* className;
    const char* caption;  // null: any
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param)
{
    WindowSearch& search = *reinterpret_cast<WindowSearch*>(param);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId != search.processId || !::IsWindowVisible(window))
        return TRUE;
    char text[256] = "";
    ::GetClassNameA(window, text, sizeof(text));
    if (std::strcmp(text, search.className) != 0)
        return TRUE;
    if (search.caption != nullptr) {
        text[0] = '\0';
        ::GetWindowTextA(window, text, sizeof(text));
        if (std::strcmp(text, search.caption) != 0)
            return TRUE;
    }
    search.found = window;
    return FALSE;
}

std::string ProgramPath()
{
    std::string path = "Z:" ORVEX_EXE_PATH;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Starts the program, times until its window is visible, then closes it with
// `close` and waits for the process to end. A negative time: it failed.
double TimeStart(const std::string& application, const std::string& commandLine, const char* className,
                 const char* caption, const std::function<void(HWND)>& close)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    double start = Now();
    if (!::CreateProcessA(application.empty() ? nullptr : application.c_str(), &line[0], nullptr, nullptr, FALSE,
                          0, nullptr, nullptr, &startup, &info)) {
        Fail("cannot start the program", static_cast<long>(::GetLastError()));
        return -1;
    }
    WindowSearch search = { info.dwProcessId, className, caption, nullptr };
    double seconds = -1;
    for (;;) {
        ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        double now = Now();
        if (search.found != nullptr) {
            seconds = now - start;
            break;
        }
        if (now - start > 30 || ::WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0)
            break;
        ::Sleep(2);
    }
    if (search.found == nullptr)
        Fail("the window did not appear", 0);
    else
        close(search.found);
    if (::WaitForSingleObject(info.hProcess, 20000) != WAIT_OBJECT_0) {
        Fail("the program did not end when closed", 0);
        ::TerminateProcess(info.hProcess, 1);
        ::WaitForSingleObject(info.hProcess, 5000);
    }
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return seconds;
}

void BenchStart()
{
    std::printf("3. Start to a shown window: Orvex.exe against notepad.exe\n");
    const std::string orvex = ProgramPath();
    auto startOrvex = [&] {
        return TimeStart(orvex, "\"" + orvex + "\"", "#32770", "Tarvik",
                         [](HWND w) { ::PostMessageA(w, WM_COMMAND, IDCANCEL, 0); });
    };
    auto startNotepad = [] {
        return TimeStart("", "notepad.exe", "Notepad", nullptr, [](HWND w) { ::PostMessageA(w, WM_CLOSE, 0, 0); });
    };
    startOrvex();  // untimed warm-ups: the first start of each reads its files
    startNotepad();
    std::vector<double> orvexTimes, notepadTimes;
    for (int run = 0; run < kStartRuns; ++run) {  // alternating
        orvexTimes.push_back(startOrvex());
        notepadTimes.push_back(startNotepad());
    }
    double tOrvex = Median(orvexTimes);
    double tNotepad = Median(notepadTimes);
    std::printf("  Orvex.exe to its visible \"Tarvik\" dialog: %.3f s median of %d  [%s]\n", tOrvex, kStartRuns,
                Runs(orvexTimes, 1, "s").c_str());
    std::printf("  notepad.exe to its visible window:        %.3f s median of %d  [%s]\n", tNotepad, kStartRuns,
                Runs(notepadTimes, 1, "s").c_str());
    std::printf("  RATIO Orvex / notepad: %.3f\n", tOrvex / tNotepad);
    std::fflush(stdout);
}

const char* WineVersion()
{
    typedef const char*(__cdecl * Fn)();
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    FARPROC proc = ntdll != nullptr ? ::GetProcAddress(ntdll, "wine_get_version") : nullptr;
    return proc != nullptr ? reinterpret_cast<Fn>(reinterpret_cast<void*>(proc))() : "not Wine";
}

}  // namespace

// With no arguments every part runs; otherwise only those named
// ("scan", "queue", "start").
// The bytes of the program's resource section (.rsrc) in the file: the
// icon's sizes are the program's face, not its weight. 0 when unreadable.
DWORD ResourceBytes(const std::string& path)
{
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    std::vector<BYTE> image(::GetFileSize(file, nullptr));
    DWORD read = 0;
    bool whole = !image.empty() && ::ReadFile(file, image.data(), static_cast<DWORD>(image.size()), &read, nullptr) &&
                 read == image.size();
    ::CloseHandle(file);
    if (!whole || image.size() < sizeof(IMAGE_DOS_HEADER))
        return 0;
    LONG at = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data())->e_lfanew;
    if (at <= 0 || static_cast<size_t>(at) + sizeof(IMAGE_NT_HEADERS32) > image.size())
        return 0;
    const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + at);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (reinterpret_cast<const BYTE*>(section + 1) > image.data() + image.size())
            return 0;
        if (std::memcmp(section->Name, ".rsrc", 6) == 0)
            return section->SizeOfRawData;
    }
    return 0;
}

int main(int argc, char** argv)
{
    auto wanted = [&](const char* part) {
        if (argc < 2)
            return true;
        for (int i = 1; i < argc; ++i)
            if (std::strcmp(argv[i], part) == 0)
                return true;
        return false;
    };
    std::printf("Orvex benchmark under Wine %s; times from QueryPerformanceCounter\n", WineVersion());
    std::printf("Program: %s\n", ProgramPath().c_str());
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    DWORD resources = ResourceBytes(ProgramPath());
    if (::GetFileAttributesExA(ProgramPath().c_str(), GetFileExInfoStandard, &data) && resources != 0) {
        DWORD code = data.nFileSizeLow - resources;
        std::printf("Orvex.exe size: %lu bytes; without its resources (%lu bytes: icon, dialogs, manifest) %lu bytes "
                    "(%.1f KB)   (aim: at most 96 KB = 98,304 bytes)\n",
                    static_cast<unsigned long>(data.nFileSizeLow), static_cast<unsigned long>(resources),
                    static_cast<unsigned long>(code), code / 1024.0);
    } else {
        Fail("cannot read the size of Orvex.exe", static_cast<long>(::GetLastError()));
    }
    std::fflush(stdout);
    double start = Now();
    if (wanted("scan")) {
        BenchScan();
        BenchSignedScan();
    }
    if (wanted("queue"))
        BenchQueue();
    if (wanted("start"))
        BenchStart();
    std::printf("Bench ran %.1f s%s\n", Now() - start, g_failed ? "; SOME STEPS FAILED (see ERROR lines)" : "");
    return g_failed ? 1 : 0;
}
