#include "CommandLine.h"

#include "hijack/HijackRepair.h"
#include "hijack/HijackReport.h"
#include "system/NativeApi.h"
#include "ui/ConsoleOutput.h"

#include <shellapi.h>

#include <cwchar>

namespace {
const wchar_t kUsage[] =
    L"用法: Orvex.exe [/scan [/csv] | /clear | /?]\r\n"
    L"  (无参数)    打开窗口。\r\n"
    L"  /scan       检查映象劫持，将报告写到标准输出。\r\n"
    L"  /scan /csv  同上，写成 CSV (RFC 4180, UTF-8)。\r\n"
    L"  /clear      清除找到的每一项 (不删除任何程序)，再检查一次，写出清除了什么、还剩什么。\r\n"
    L"  /?          显示本说明。\r\n"
    L"不打开窗口，也不弹出任何消息框。写入控制台时为 Unicode，写入文件或管道时为 UTF-8。\r\n"
    L"退出码: 0 未找到任何项 (/scan)、没有剩余 (/clear)；1 找到了 (/scan)、仍有剩余 (/clear)；\r\n"
    L"        2 参数无法识别；3 无法写出报告。\r\n";
const wchar_t kCannotWrite[] = L"无法写出报告\r\n";

enum Mode { kWindow, kUnknown, kHelp, kScan, kCsv, kClear };

Mode ModeOf(int count, wchar_t** arguments)
{
    if (count <= 1)
        return kWindow;
    bool scan = false;
    bool csv = false;
    bool clear = false;
    bool help = false;
    for (int i = 1; i < count; ++i) {
        bool* which = SameName(arguments[i], L"/scan")    ? &scan
                      : SameName(arguments[i], L"/csv")   ? &csv
                      : SameName(arguments[i], L"/clear") ? &clear
                      : SameName(arguments[i], L"/?")     ? &help
                                                          : nullptr;
        if (which == nullptr || *which)
            return kUnknown;
        *which = true;
    }
    return help && count == 2 ? kHelp : scan && csv && count == 3 ? kCsv : scan && count == 2 ? kScan
                                                                    : clear && count == 2    ? kClear
                                                                                             : kUnknown;
}

bool Write(Stream stream, const ReportText& text)
{
    return !text.Failed() && WriteStream(stream, text.Text(), text.Length());
}

bool WriteWords(Stream stream, const wchar_t* words) { return WriteStream(stream, words, std::wcslen(words)); }

int Count(const Findings& found)
{
    int count = 0;
    for (const Finding* finding = found.First(); finding != nullptr; finding = finding->next)
        ++count;
    return count;
}

// Each finding by `write`, in the order the window lists them: the last
// found first.
template <class Write> bool EachInListOrder(const Findings& found, Write write)
{
    const int count = Count(found);
    const Finding** list =
        static_cast<const Finding**>(::LocalAlloc(LMEM_FIXED, (count + 1) * sizeof(const Finding*)));
    if (list == nullptr)
        return false;
    int listed = 0;
    for (const Finding* finding = found.First(); finding != nullptr && listed < count; finding = finding->next)
        list[listed++] = finding;
    while (listed > 0)
        write(*list[--listed]);
    ::LocalFree(list);
    return true;
}

int Scan(bool csv)
{
    Findings found;
    FindHijacks(found);
    ReportText report;
    if (csv)
        WriteCsvHeader(report);
    else
        WriteReportHead(Count(found), report);
    const bool whole = EachInListOrder(found, [&](const Finding& finding) {
        if (csv)
            WriteCsvRecord(finding, report);
        else
            WriteFindingBlock(finding, report);
    });
    if (!whole || !Write(kStandardOutput, report)) {
        WriteWords(kStandardError, kCannotWrite);
        return kExitCannotWrite;
    }
    return found.First() != nullptr ? kExitFound : kExitClean;
}

// One line for a finding: what column 0 names.
void AppendEntry(ReportText& text, const wchar_t* words, const Finding& finding)
{
    wchar_t name[kShownRoom];
    wchar_t shown[kShownRoom];
    DescribeFinding(finding, name, shown);
    text.Append(words);
    text.Append(name);
    text.Append(L"\r\n");
}

// "全部清除": every listed setting goes, nothing is queued; then a scan
// again, whose findings are what is left.
int Clear()
{
    Findings found;
    FindHijacks(found);
    ReportText done;
    ReportText errors;
    WriteReportHead(Count(found), done);
    const bool whole = EachInListOrder(found, [&](const Finding& finding) {
        const bool gone = DeleteHijackKey(finding) != 0;
        AppendEntry(done, gone ? L"已清除: " : L"未能清除: ", finding);
        if (!gone && RuleOf(finding.kind).clearing == kRestoreFile) {
            errors.Append(L"文件: ");
            errors.Append(finding.key);
            errors.Append(L"\r\n无法恢复\r\n");
        }
    });
    Findings left;
    FindHijacks(left);
    done.Append(left.First() != nullptr ? L"\r\n清除后仍有:\r\n" : L"\r\n清除后未找到任何项\r\n");
    EachInListOrder(left, [&](const Finding& finding) { WriteFindingBlock(finding, done); });
    if (errors.Length() > 0)
        Write(kStandardError, errors);
    if (!whole || !Write(kStandardOutput, done)) {
        WriteWords(kStandardError, kCannotWrite);
        return kExitCannotWrite;
    }
    return left.First() != nullptr ? kExitFound : kExitClean;
}
}  // namespace

int RunCommandLine()
{
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    const Mode mode = arguments != nullptr ? ModeOf(count, arguments) : kUnknown;
    if (arguments != nullptr)
        ::LocalFree(arguments);
    if (mode == kWindow)
        return kExitWindow;
    // Nobody may be there to answer a box: no system error box, nor a
    // crash's.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
    switch (mode) {
    case kHelp:
        return WriteWords(kStandardOutput, kUsage) ? kExitClean : kExitCannotWrite;
    case kScan: return Scan(false);
    case kCsv: return Scan(true);
    case kClear: return Clear();
    default:
        WriteWords(kStandardError, kUsage);
        return kExitUsage;
    }
}
