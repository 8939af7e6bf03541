// The main window: the result list, the three action buttons and the hidden
// mode tab (0 hijack, 1 infection).
#pragma once

#include "framework/afxwin.h"
#include "res/resource.h"

struct ModeActions;

class CRepairDialog : public CDialog {
public:
    enum { IDD = IDD_ORVEX_DIALOG };

    explicit CRepairDialog(CWnd* pParent = nullptr);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnCancel() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnCheck();
    void OnClearAll();
    void OnClearSelected();
    void OnSelchangeModeTab(NMHDR* pNMHDR, LRESULT* pResult);
    void OnDeleteitemResults(NMHDR* pNMHDR, LRESULT* pResult);
    void OnKeydownResults(NMHDR* pNMHDR, LRESULT* pResult);
    LRESULT OnContextMenu(WPARAM wParam, LPARAM lParam);
    void OnCopy();
    void OnCopyAll();
    LRESULT OnDpiChanged(WPARAM wParam, LPARAM lParam);
    void OnClose();
    DECLARE_MESSAGE_MAP()

    CTabCtrl m_tabMode;
    CListCtrl m_listResults;
    int m_bRestartAdvised;
    HICON m_hIcon;

private:
    enum Mode { kHijackMode = 0, kInfectionMode = 1 };
    int m_bLeaving = 0;  // the exit procedure has begun in this run of the window
    int m_nDpi = 96;     // the scale the window's pixel figures are set for

    // The mode the tab control selects, read afresh: null for none.
    const ModeActions* CurrentMode() const;
    int Scale(int pixels) const { return ::MulDiv(pixels, m_nDpi, 96); }
    void InsertColumns(const ModeActions* mode);
    void FitColumns();
    void SizeTabs();
    void AddAboutMenuEntry();
};
