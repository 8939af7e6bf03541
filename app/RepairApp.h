#pragma once

#include "framework/afxwin.h"

class CRepairApp : public CWinApp {
public:
    BOOL InitInstance() override;
    DECLARE_MESSAGE_MAP()
};

extern CRepairApp theApp;
