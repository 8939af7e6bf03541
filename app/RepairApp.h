#pragma once

#include "framework/afxwin.h"

class CRepairApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override { return m_nExitCode; }
    DECLARE_MESSAGE_MAP()

private:
    int m_nExitCode = 0;
};

extern CRepairApp theApp;
