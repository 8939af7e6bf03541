#include "HijackReport.h"

#include "system/KeyLinks.h"
#include "system/NativeApi.h"
#include "system/Wow64.h"
#include "ui/VisibleText.h"

#include <cstring>
#include <cwchar>

namespace {
const wchar_t kLine[] = L"\r\n";

// What "清除选定" does with a file, or why it does nothing.
const wchar_t* QueueingWords(Queueing queueing)
{
    switch (queueing) {
    case kQueued: return L"重启时删除此文件";
    case kNamesNoProgram: return L"此项不指向程序";
    case kThroughOtherKey: return L"经由其他键找到，可能属于其他程序，不删除";
    case kUnknownVariable: return L"含有无法确定其值的环境变量，不删除";
    case kNotPlainPath: return L"不是可确定的完整路径，不删除";
    case kScriptFound: return L"命令提示符先找到的不是程序，不删除";
    case kNoSuchFile: return L"文件不存在";
    case kUnreadableFile: return L"无法打开文件，不删除";
    case kNotAProgram: return L"不是本系统运行的程序，不删除";
    case kLoadedDll: return L"DLL 不删除";
    case kProtectedFile: return L"受 Windows 保护，不删除";
    case kTrustedPublisher: return L"由受信任的发行者签名，不删除";
    default: return L"由 Windows 恢复，不删除";
    }
}

// Where the setting lies on the way to it: a link, or a key that cannot be
// told from one, makes the clears leave its program alone.
LinkState LinkOnTheWay(const Finding& found)
{
    const KindRule& rule = RuleOf(found.kind);
    if (rule.base == nullptr)
        return kNoLink;  // a file, not a setting
    wchar_t path[kKeyPathRoom];
    ::lstrcpynW(path, found.key, kKeyPathRoom);
    return FindLinkOnTheWay(rule.Root(), path, TrustedLength(path), found.view);
}

// The root a finding's key is below, as a report names it ("" for a file).
const wchar_t* RootOf(const KindRule& rule)
{
    return rule.base == nullptr ? L"" : rule.ofUser ? L"HKCU\\" : L"HKLM\\";
}

// Whether "清除选定" queues the file.
bool IsQueued(const StartedFile& file, LinkState link) { return file.queueing == kQueued && link == kNoLink; }

// The registry view a finding's key is of: one of its own (32 or 64),
// or none where the key is one for every program that reads it.
const wchar_t* ViewOf(const Finding& found)
{
    if (found.view == 0 || found.programs == (kNativePrograms | kWow64Programs))
        return L"";
    return found.view == KEY_WOW64_32KEY ? L"32" : L"64";
}

void AppendLabelled(ReportText& report, const wchar_t* label, const wchar_t* text, bool visible = true)
{
    report.Append(label);
    if (visible)
        report.AppendVisible(text);
    else
        report.Append(text);
    report.Append(kLine);
}

// The verdict on a file, as the publisher column shows it.
void AppendVerdict(ReportText& report, const StartedFile& file)
{
    Finding one = {};
    one.fileCount = 1;
    one.files[0] = file;
    wchar_t cell[kShownRoom];
    DescribePublisher(one, cell);
    report.Append(cell);
}

// The program's version, from its own version block.
void AppendProgramVersion(ReportText& report)
{
    const BYTE* block = nullptr;
    if (HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16))) {
        if (HGLOBAL loaded = ::LoadResource(nullptr, found))
            block = static_cast<const BYTE*>(::LockResource(loaded));
    }
    // VS_FIXEDFILEINFO follows the root's key "VS_VERSION_INFO", on a
    // 4-byte boundary.
    const size_t fixed = 40;
    VS_FIXEDFILEINFO info = {};
    if (block != nullptr)
        std::memcpy(&info, block + fixed, sizeof(info));
    wchar_t version[64] = L"?";
    if (info.dwSignature == 0xFEEF04BD)
        ::wsprintfW(version, L"%u.%u.%u.%u", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                    HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS));
    report.Append(version);
}

// Windows' version as it is, whatever this program's manifest says, and
// its bitness.
void AppendWindowsVersion(ReportText& report)
{
    typedef LONG(NTAPI * Fn)(OSVERSIONINFOEXW*);
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    const Fn get = SystemFunction<Fn>("ntdll.dll", "RtlGetVersion");
    wchar_t words[160] = L"?";
    if (get != nullptr && get(&version) >= 0)
        ::wsprintfW(words, version.szCSDVersion[0] != L'\0' ? L"%lu.%lu.%lu %s" : L"%lu.%lu.%lu", version.dwMajorVersion,
                    version.dwMinorVersion, version.dwBuildNumber, version.szCSDVersion);
    report.Append(words);
    report.Append(HasWow64() ? L" 64位" : L" 32位");
}

// A field of a CSV record: as it is, but a lone surrogate as its code, in
// quotes (its quotes doubled) where it holds a comma, a quote or a line end.
void AppendField(ReportText& report, const wchar_t* text, bool first = false)
{
    if (!first)
        report.Append(L",");
    const bool quoted = std::wcspbrk(text, L",\"\r\n") != nullptr;
    if (quoted)
        report.Append(L"\"");
    for (const wchar_t* at = text; *at != L'\0'; ++at) {
        const bool high = *at >= 0xD800 && *at <= 0xDBFF;
        const bool low = *at >= 0xDC00 && *at <= 0xDFFF;
        if (high && at[1] >= 0xDC00 && at[1] <= 0xDFFF) {
            report.Append(at, 2);
            ++at;
        } else if (high || low) {
            wchar_t code[16];
            ::wsprintfW(code, L"<U+%04X>", static_cast<unsigned>(*at));
            report.Append(code);
        } else {
            report.Append(at, 1);
            if (*at == L'"')
                report.Append(L"\"");
        }
    }
    if (quoted)
        report.Append(L"\"");
}

// A value's name as the report shows it: a NUL in it as "␀".
void AppendValueName(ReportText& report, const Finding& found, bool visible)
{
    for (size_t i = 0; i < found.valueLength; ++i) {
        const wchar_t c = found.value[i] != L'\0' ? found.value[i] : L'\x2400';
        if (visible) {
            const wchar_t one[2] = { c, L'\0' };
            report.AppendVisible(one);
        } else {
            report.Append(&c, 1);
        }
    }
}
}  // namespace

ReportText::~ReportText()
{
    if (m_text != nullptr)
        ::LocalFree(m_text);
}

void ReportText::Append(const wchar_t* text, size_t length)
{
    if (m_length + length + 1 > m_room) {
        const size_t room = (m_length + length + 1) * 2;
        wchar_t* grown = static_cast<wchar_t*>(::LocalAlloc(LMEM_FIXED, room * sizeof(wchar_t)));
        if (grown == nullptr) {
            m_failed = true;
            return;
        }
        if (m_text != nullptr) {
            std::wmemcpy(grown, m_text, m_length);
            ::LocalFree(m_text);
        }
        m_text = grown;
        m_room = room;
    }
    std::wmemcpy(m_text + m_length, text, length);
    m_length += length;
    m_text[m_length] = L'\0';
}

void ReportText::Append(const wchar_t* text) { Append(text, std::wcslen(text)); }

void ReportText::AppendVisible(const wchar_t* text)
{
    wchar_t* shown = VisibleCopy(text);
    if (shown == nullptr) {
        m_failed = true;
        return;
    }
    Append(shown);
    ::LocalFree(shown);
}

void WriteReportHead(int count, ReportText& report)
{
    report.Append(L"Orvex 映象劫持报告\r\n程序版本: ");
    AppendProgramVersion(report);
    report.Append(L"\r\nWindows: ");
    AppendWindowsVersion(report);
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    wchar_t line[128];
    ::wsprintfW(line, L"\r\n时间: %04u-%02u-%02u %02u:%02u:%02u\r\n", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
    report.Append(line);
    if (count > 0) {
        ::wsprintfW(line, L"找到 %d 项\r\n", count);
        report.Append(line);
    } else {
        report.Append(L"未找到任何项\r\n");
    }
}

void WriteFindingBlock(const Finding& found, ReportText& report)
{
    const KindRule& rule = RuleOf(found.kind);
    wchar_t name[kShownRoom];
    wchar_t text[kShownRoom];
    DescribeFinding(found, name, text);
    report.Append(kLine);
    AppendLabelled(report, L"项: ", name, false);
    report.Append(L"位置: ");
    report.Append(RootOf(rule));
    report.AppendVisible(found.key);
    report.Append(kLine);
    if (rule.base != nullptr) {
        report.Append(L"值: ");
        if (found.valueLength == 0)
            report.Append(L"(默认)");
        AppendValueName(report, found, true);
        report.Append(kLine);
    }
    if (ViewOf(found)[0] != L'\0')
        AppendLabelled(report, L"视图: ", ViewOf(found)[0] == L'3' ? L"32位" : L"64位", false);
    AppendLabelled(report, L"文本: ", found.text);
    if (found.target != nullptr)
        AppendLabelled(report, L"指向: ", found.target);
    const LinkState link = LinkOnTheWay(found);
    for (int i = 0; i < found.fileCount; ++i) {
        const StartedFile& file = found.files[i];
        report.Append(L"程序: ");
        report.AppendVisible(file.path);
        if (found.fileCount == 2 && file.programs == kWow64Programs)
            report.Append(kWow64Mark);
        report.Append(L"\r\n发行者: ");
        AppendVerdict(report, file);
        report.Append(L"\r\n清除选定: ");
        report.Append(link == kLink         ? L"设置经由注册表链接，只删除链接，不删除程序"
                      : link == kCannotTell ? L"无法判断注册表键是否为链接，不作更改"
                                            : QueueingWords(file.queueing));
        report.Append(kLine);
    }
    if (found.fileCount == 0)
        AppendLabelled(report, L"清除选定: ", QueueingWords(found.queueing), false);
}

void WriteCsvHeader(ReportText& report)
{
    report.Append(L"Kind,Entry,Location,Value,View,Text,Target,Program,Publisher,Queued\r\n");
}

void WriteCsvRecord(const Finding& found, ReportText& report)
{
    const KindRule& rule = RuleOf(found.kind);
    wchar_t name[kShownRoom];
    wchar_t text[kShownRoom];
    DescribeFinding(found, name, text);
    wchar_t kind[64];
    ::MultiByteToWideChar(CP_ACP, 0, rule.name, -1, kind, 64);
    AppendField(report, kind, true);
    AppendField(report, name);
    ReportText location;
    location.Append(RootOf(rule));
    location.Append(found.key);
    AppendField(report, location.Text());
    ReportText value;
    AppendValueName(value, found, false);
    AppendField(report, value.Text());
    AppendField(report, ViewOf(found));
    AppendField(report, found.text);
    AppendField(report, found.target != nullptr ? found.target : L"");
    // Each file's program, verdict and queue, joined in the same order.
    ReportText programs;
    ReportText publishers;
    ReportText queued;
    const LinkState link = LinkOnTheWay(found);
    for (int i = 0; i < found.fileCount; ++i) {
        const wchar_t* join = i > 0 ? L" | " : L"";
        programs.Append(join);
        programs.Append(found.files[i].path);
        publishers.Append(join);
        AppendVerdict(publishers, found.files[i]);
        queued.Append(join);
        queued.Append(IsQueued(found.files[i], link) ? L"yes" : L"no");
    }
    AppendField(report, programs.Text());
    AppendField(report, publishers.Text());
    AppendField(report, found.fileCount > 0 ? queued.Text() : L"no");
    report.Append(kLine);
    if (location.Failed() || value.Failed() || programs.Failed() || publishers.Failed() || queued.Failed())
        report.Fail();
}
