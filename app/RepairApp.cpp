#include "RepairApp.h"

#include "res/resource.h"
#include "ui/RepairDialog.h"

BEGIN_MESSAGE_MAP(CRepairApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CRepairApp theApp;

BOOL CRepairApp::InitInstance()
{
    AfxEnableControlContainer();
    Enable3dControls();

    CRepairDialog dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;  // the dialog object ends here
    return FALSE;
}
