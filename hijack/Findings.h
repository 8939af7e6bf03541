// What a scan finds: plain data, with no window in it. The list shows each
// finding as a row and keeps it as the row's data; the clears act on it,
// never on the texts shown.
#pragma once

#include "HijackKinds.h"
#include "HijackProgram.h"
#include "system/KeyLinks.h"

#include <cstddef>

struct Finding {
    Finding* next;           // the one found after it
    HijackKind kind;
    REGSAM view;             // 0, or the registry view it was read in (KEY_WOW64_32KEY, KEY_WOW64_64KEY)
    int programs;            // which programs start what it names (kNativePrograms, kWow64Programs)
    const wchar_t* key;      // the setting's key below the kind's root
    const wchar_t* value;    // the value's name ("" the default)
    size_t valueLength;      // its length: a name may hold a NUL, which only the native calls name
    const wchar_t* subject;  // what column 0 names: an image, a file type, a package
    const wchar_t* detail;   // words column 0 adds (a verb), or null; static
    const wchar_t* restore;  // Windows' own text that a clear sets back, or null: the value goes; static
    const wchar_t* text;     // the setting's text, as Windows reads it
    const wchar_t* target;   // the command the text leads to (Leading), or null
    DWORD type;              // the value's type as read (REG_SZ, REG_EXPAND_SZ, ...)
    bool unreadable;         // its key refuses reading: Windows reads it with its own rights
    bool targetIsOwn;        // the target was read in the setting's own classes
    int fileCount;           // the files the setting names, one for each kind of program
    StartedFile files[2];    //   (ResolveStartedFiles), filled in when it is kept
    Queueing queueing;       // why none is queued, when there is none
};

// The findings of a scan, in the order found. Each is one block from
// LocalAlloc, its texts after it; a block taken out is the taker's.
class Findings {
public:
    Findings() = default;
    ~Findings();
    Findings(const Findings&) = delete;
    Findings& operator=(const Findings&) = delete;

    // Keeps a copy of the finding and of its texts, with the files it
    // names: each distinct file of a scan is checked once. A key that
    // nothing can read is kept once, whatever settings lie in it.
    void Add(const Finding& found);
    const Finding* First() const { return m_first; }
    // The first finding, out of the list, or null.
    Finding* Take();

private:
    Finding* m_first = nullptr;
    Finding* m_last = nullptr;
    FileVerdicts m_verdicts;
};

// Every hijack of every kind, kind by kind in the order of the table.
void FindHijacks(Findings& found);

// The texts of the list's first two columns for a finding. The list draws
// at most 259 characters of a text.
const size_t kShownRoom = 260;
void DescribeFinding(const Finding& found, wchar_t (&name)[kShownRoom], wchar_t (&text)[kShownRoom]);

// The publisher column: the verdict on each file the finding names, the
// native one first and a 32-bit program's other file marked, two equal
// verdicts once; empty where it names none.
void DescribePublisher(const Finding& found, wchar_t (&cell)[kShownRoom]);

// The publisher column's words for a verdict other than a signer's name.
const wchar_t kUntrustedWords[] = L" (不受信任)";
const wchar_t kBadSignatureWords[] = L"签名无效";
const wchar_t kUnsignedWords[] = L"未签名";
const wchar_t kNoFileWords[] = L"文件不存在";
const wchar_t kUnverifiableWords[] = L"无法验证";

// The registry views in which the rule's key is read: 0 alone, or the
// 32-bit view and the native one (RegistryViews). Returns the count.
int ViewsOf(const KindRule& rule, REGSAM (&views)[2]);

// A setting's text as Windows reads it (Reading): up to its first NUL.
class SettingText {
public:
    SettingText(HKEY key, const wchar_t* value, Reading reading);
    ~SettingText();
    SettingText(const SettingText&) = delete;
    SettingText& operator=(const SettingText&) = delete;

    bool Read() const { return m_text != nullptr; }
    const wchar_t* Text() const { return m_text; }
    DWORD Type() const { return m_type; }

private:
    wchar_t m_local[MAX_PATH + 1];
    wchar_t* m_block = nullptr;
    const wchar_t* m_text = nullptr;
    DWORD m_type = REG_NONE;
};

// Whether the rule lists a text of the value's type, against Windows' own
// (null: none).
bool IsListed(const KindRule& rule, const wchar_t* text, DWORD type, const wchar_t* own);

// Adds the finding, its value read from the open key by the kind's rule,
// when the rule lists the text against Windows' own (null: none). The
// finding names its kind, view, programs, key, subject and detail, and
// its value where the rule names none.
bool AddIfListed(Finding finding, HKEY key, const wchar_t* own, Findings& found);

// Adds the finding of a key that refuses reading (its kind, view,
// programs, key and subject given): Windows reads it with its own rights,
// and it may hold anything.
void AddUnreadable(Finding finding, Findings& found);

// The same for the finding's key, opened to read in its view (a key that
// refuses that is unreadable): the value the rule names, when Windows
// reads it (its switch on). Nothing where the key is not there.
void FindValueAt(const Finding& finding, const wchar_t* own, Findings& found);

// "base\name" into `path`; false when it does not fit.
bool JoinKey(const wchar_t* base, const wchar_t* name, wchar_t (&path)[kKeyPathRoom]);

// The finder of a setting whose key the rule names: the value of each key
// that matches the pattern, in each view of the rule.
void FindSetting(HijackKind kind, Findings& found);

// The finders of the kinds whose keys follow rules of their own: the image
// options (the four kinds under IFEO), and the program file types, the
// machine's and the user's.
void FindImageOptions(HijackKind kind, Findings& found);
// The accessibility programs that the logon screen starts, where the
// system directory's file is another program (Accessibility.cpp).
void FindReplacedPrograms(HijackKind kind, Findings& found);
void FindMachineTypes(HijackKind kind, Findings& found);
void FindUserTypes(HijackKind kind, Findings& found);

// After a link at `link` (a key of the machine's, in the view) went: makes
// anew Windows' own command of each program type's verb, and each
// extension's type, that lay at or below it, so that the shell can still
// start programs.
void RemakeWindowsOwnTypes(const wchar_t* link, REGSAM view);
