#include "RepairApp.h"

#include "CommandLine.h"

#include "res/resource.h"
#include "ui/RepairDialog.h"

BEGIN_MESSAGE_MAP(CRepairApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CRepairApp theApp;

BOOL CRepairApp::InitInstance()
{
    // A command line runs without the window, its result the exit code.
    const int code = RunCommandLine();
    if (code != kExitWindow) {
        m_nExitCode = code;
        return FALSE;
    }
    AfxEnableControlContainer();
    Enable3dControls();

    CRepairDialog dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;  // the dialog object ends here
    return FALSE;
}
