// A hidden report-view list with two columns, for calling the scan and
// clear functions directly. Its parent releases the rows' own blocks, as
// the main window does.
#pragma once

#include "framework/afxwin.h"
#include "ui/ResultList.h"

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

class ListWindow {
public:
    ListWindow()
    {
        INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_LISTVIEW_CLASSES };
        InitCommonControlsEx(&icc);
        WNDCLASSA parentClass = {};
        parentClass.lpfnWndProc = ParentProc;
        parentClass.hInstance = GetModuleHandleA(nullptr);
        parentClass.lpszClassName = "OrvexTestListParent";
        RegisterClassA(&parentClass);
        m_parent = CreateWindowExA(0, parentClass.lpszClassName, "", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr,
                                   parentClass.hInstance, nullptr);
        list.m_hWnd = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | LVS_REPORT | LVS_SINGLESEL, 0, 0, 400, 300,
                                      m_parent, nullptr, parentClass.hInstance, nullptr);
        list.InsertColumn(0, "0", LVCFMT_LEFT, 100);
        list.InsertColumn(1, "1", LVCFMT_LEFT, 100);
    }
    ~ListWindow() { DestroyWindow(m_parent); }
    ListWindow(const ListWindow&) = delete;
    ListWindow& operator=(const ListWindow&) = delete;

    // The rows' texts in the ANSI code page, or as they are (Wide).
    std::vector<std::pair<std::string, std::string>> Rows() const { return RowsIn<char, LVITEMA>(LVM_GETITEMTEXTA); }
    std::vector<std::pair<std::wstring, std::wstring>> WideRows() const
    {
        return RowsIn<wchar_t, LVITEMW>(LVM_GETITEMTEXTW);
    }

    // Selects the row as a click does: the selection and its mark.
    void Select(int row)
    {
        LVITEMA item = {};
        item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
        list.SendMessage(LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
        list.SendMessage(LVM_SETSELECTIONMARK, 0, row);
    }

    CListCtrl list;

private:
    static LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == LVN_DELETEITEM)
            ReleaseRowData(reinterpret_cast<NMLISTVIEW*>(lParam));
        return DefWindowProcA(window, message, wParam, lParam);
    }

    template <class C, class Item> std::vector<std::pair<std::basic_string<C>, std::basic_string<C>>> RowsIn(UINT get) const
    {
        std::vector<std::pair<std::basic_string<C>, std::basic_string<C>>> rows;
        for (int row = 0; row < list.GetItemCount(); ++row) {
            C texts[2][1024] = {};
            for (int column = 0; column < 2; ++column) {
                Item item = {};
                item.iSubItem = column;
                item.pszText = texts[column];
                item.cchTextMax = 1024;
                list.SendMessage(get, row, reinterpret_cast<LPARAM>(&item));
            }
            rows.emplace_back(texts[0], texts[1]);
        }
        return rows;
    }

    HWND m_parent = nullptr;
};

}  // namespace testing_support
