// A hidden report-view list with two columns, for calling the scan and
// clear functions directly.
#pragma once

#include "framework/afxwin.h"

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
        list.m_hWnd = CreateWindowExA(0, WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT | LVS_SINGLESEL, 0, 0, 400, 300,
                                      nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        list.InsertColumn(0, "0", LVCFMT_LEFT, 100);
        list.InsertColumn(1, "1", LVCFMT_LEFT, 100);
    }
    ~ListWindow() { DestroyWindow(list.m_hWnd); }
    ListWindow(const ListWindow&) = delete;
    ListWindow& operator=(const ListWindow&) = delete;

    std::vector<std::pair<std::string, std::string>> Rows() const
    {
        std::vector<std::pair<std::string, std::string>> rows;
        for (int row = 0; row < list.GetItemCount(); ++row) {
            char a[1024] = "";
            char b[1024] = "";
            list.GetItemText(row, 0, a, sizeof(a));
            list.GetItemText(row, 1, b, sizeof(b));
            rows.emplace_back(a, b);
        }
        return rows;
    }

    void Select(int row) { list.SendMessage(LVM_SETSELECTIONMARK, 0, row); }

    CListCtrl list;
};

}  // namespace testing_support
