#pragma once

#include "framework/afxwin.h"
#include "res/resource.h"

class CAboutDialog : public CDialog {
public:
    enum { IDD = IDD_ABOUTBOX };

    CAboutDialog() : CDialog(IDD) {}

protected:
    void DoDataExchange(CDataExchange*) override {}
    DECLARE_MESSAGE_MAP()
};
