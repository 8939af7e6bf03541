// The report of a scan, for a helper who reads it and for tools that run
// the program unattended: plain text, or CSV by RFC 4180. Every text comes
// from the registry or the disk whole, never cut.
#pragma once

#include "Findings.h"

// A wide text that grows as it is written, in a block from LocalAlloc.
class ReportText {
public:
    ReportText() = default;
    ~ReportText();
    ReportText(const ReportText&) = delete;
    ReportText& operator=(const ReportText&) = delete;

    void Append(const wchar_t* text, size_t length);
    void Append(const wchar_t* text);
    // With the list's codes for what draws as something else, or as nothing.
    void AppendVisible(const wchar_t* text);
    const wchar_t* Text() const { return m_text != nullptr ? m_text : L""; }
    size_t Length() const { return m_length; }
    // Some text found no room: the report is not whole.
    bool Failed() const { return m_failed; }
    void Fail() { m_failed = true; }

private:
    wchar_t* m_text = nullptr;
    size_t m_length = 0;
    size_t m_room = 0;
    bool m_failed = false;
};

// The report's head: the program's version, Windows' version and bitness,
// the date and time, and the count of findings.
void WriteReportHead(int count, ReportText& report);

// One finding's block: what column 0 names, where the setting lies (root,
// key, value, view), its text, where it leads, each file it names with
// its publisher, and what "清除选定" does with it, or why it does nothing.
void WriteFindingBlock(const Finding& found, ReportText& report);

// The CSV's header, and one finding's record: its text exactly as read,
// every field in quotes where it needs them. A lone surrogate, which UTF-8
// cannot hold, is written as its code.
void WriteCsvHeader(ReportText& report);
void WriteCsvRecord(const Finding& found, ReportText& report);
