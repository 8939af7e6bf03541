#include "ReportCopy.h"

#include "hijack/HijackReport.h"
#include "ui/ResultList.h"

#include <cstring>

namespace {
// Puts the text on the clipboard in the format, in a block it then owns.
bool SetClipboardText(UINT format, const void* text, size_t bytes)
{
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    void* at = block != nullptr ? ::GlobalLock(block) : nullptr;
    if (at == nullptr) {
        if (block != nullptr)
            ::GlobalFree(block);
        return false;
    }
    std::memcpy(at, text, bytes);
    ::GlobalUnlock(block);
    if (::SetClipboardData(format, block) != nullptr)
        return true;
    ::GlobalFree(block);
    return false;
}

bool ToClipboard(HWND owner, const ReportText& text)
{
    const int ansiBytes = ::WideCharToMultiByte(CP_ACP, 0, text.Text(), -1, nullptr, 0, nullptr, nullptr);
    char* ansi = ansiBytes > 0 ? static_cast<char*>(::LocalAlloc(LMEM_FIXED, ansiBytes)) : nullptr;
    if (text.Failed() || ansi == nullptr || !::OpenClipboard(owner)) {
        if (ansi != nullptr)
            ::LocalFree(ansi);
        return false;
    }
    ::WideCharToMultiByte(CP_ACP, 0, text.Text(), -1, ansi, ansiBytes, nullptr, nullptr);
    const bool copied = ::EmptyClipboard() &&
                        SetClipboardText(CF_UNICODETEXT, text.Text(), (text.Length() + 1) * sizeof(wchar_t)) &&
                        SetClipboardText(CF_TEXT, ansi, static_cast<size_t>(ansiBytes));
    ::CloseClipboard();
    ::LocalFree(ansi);
    return copied;
}

// A row without a finding: its texts between tabs.
void AppendRowTexts(CListCtrl& list, int row, ReportText& text)
{
    for (int column = 0; column < 2; ++column) {
        wchar_t cell[MAX_PATH];
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = cell;
        item.cchTextMax = MAX_PATH;
        cell[0] = L'\0';
        list.SendMessage(LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        text.Append(column > 0 ? L"\t" : L"");
        text.Append(cell);
    }
    text.Append(L"\r\n");
}
}  // namespace

bool CopyRows(CListCtrl& list, HWND owner, bool all)
{
    const int count = list.GetItemCount();
    const int selected = SelectedRow(list);
    if (count <= 0 || (!all && selected == -1))
        return false;
    ReportText text;
    if (all && RowData(list, 0) != nullptr)
        WriteReportHead(count, text);
    for (int row = all ? 0 : selected; row < (all ? count : selected + 1); ++row) {
        if (const Finding* found = static_cast<const Finding*>(RowData(list, row)))
            WriteFindingBlock(*found, text);
        else
            AppendRowTexts(list, row, text);
    }
    return ToClipboard(owner, text);
}
