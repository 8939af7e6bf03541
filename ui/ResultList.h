// The result list as the scan and clear functions use it: rows always go in
// at the top, and texts are read through 260-byte buffers. A row may carry
// a block of its own (from LocalAlloc) as its item data; the list's parent
// window releases it when the row goes (ReleaseRowData, on LVN_DELETEITEM).
#pragma once

#include "framework/afxwin.h"

// Adds a row at the top of the list and sets its second column.
inline void AddResultRow(CListCtrl& list, const char* column0, const char* column1)
{
    list.InsertItem(LVIF_TEXT, 0, column0, 0, 0, 0, 0);
    list.SetItemText(0, 1, column1);
}

// The same for wide texts, a third column's too, with the row's own
// block; false when the row could not be added (the block is then still
// the caller's).
inline bool AddResultRow(CListCtrl& list, const wchar_t* column0, const wchar_t* column1, const wchar_t* column2,
                         void* data)
{
    if (list.InsertItem(LVIF_TEXT | LVIF_PARAM, 0, column0, 0, 0, 0, reinterpret_cast<LPARAM>(data)) == -1)
        return false;
    list.SetItemText(0, 1, column1);
    list.SetItemText(0, 2, column2);
    return true;
}

// The row's block, or null.
inline void* RowData(const CListCtrl& list, int row) { return reinterpret_cast<void*>(list.GetItemData(row)); }

inline void ReleaseRowData(const NMLISTVIEW* row)
{
    if (row->lParam != 0)
        ::LocalFree(reinterpret_cast<HLOCAL>(row->lParam));
}

// The row that carries the selection, -1 when none does. The selection
// mark stays where the user last clicked, also after a click on empty
// list space has cleared the selection.
inline int SelectedRow(const CListCtrl& list) { return list.GetNextItem(-1, LVNI_SELECTED); }

// Switches the list's redrawing off while a scan refills it: a visible list
// view repaints after every inserted row, which makes long scans crawl.
class ResultListFill {
public:
    explicit ResultListFill(CListCtrl& list) : m_list(list)
    {
        m_list.DeleteAllItems();
        m_list.SetRedraw(FALSE);
    }
    ~ResultListFill()
    {
        m_list.SetRedraw(TRUE);
        m_list.Invalidate();
    }
    ResultListFill(const ResultListFill&) = delete;
    ResultListFill& operator=(const ResultListFill&) = delete;

private:
    CListCtrl& m_list;
};
