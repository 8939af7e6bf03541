// The result list as the scan and clear functions use it: rows always go in
// at the top, and texts are read through 260-byte buffers.
#pragma once

#include "framework/afxwin.h"

// Adds a row at the top of the list and sets its second column.
inline void AddResultRow(CListCtrl& list, const char* column0, const char* column1)
{
    list.InsertItem(LVIF_TEXT, 0, column0, 0, 0, 0, 0);
    list.SetItemText(0, 1, column1);
}

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
