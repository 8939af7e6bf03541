#include "InfectionCheck.h"

#include "system/RestartQueue.h"
#include "system/Wow64.h"
#include "ui/Messages.h"
#include "ui/ResultList.h"
#include "ui/ShowMessage.h"

namespace {
// Deletes the file named in column 0 of the row, if the row names one.
void RemoveRowFile(CListCtrl& list, int row)
{
    char path[MAX_PATH];
    if (list.GetItemText(row, 0, path, sizeof(path)) > 0)
        RemoveListedFile(path);
}
}  // namespace

void RemoveListedFile(const char* path)
{
    {
        NativeFileSystem native;  // the file the scan looked at
        if (::DeleteFileA(path))
            return;
    }
    // Only a file that is really queued goes at the restart.
    int queued = QueueDeleteAtRestart(path);

    // 28 bytes of text around a path of at most 259 bytes.
    char message[520];
    ::wsprintfA(message, queued ? kNeedsRestartFormat : kCannotDeleteFormat, path);
    ShowMessage(message);
}

void ClearSelectedFile(CListCtrl& list, int* restartAdvised)
{
    int row = SelectedRow(list);
    if (row == -1) {
        ShowMessage(kNothingSelected);
        return;
    }
    *restartAdvised = 1;
    RemoveRowFile(list, row);
    ScanInfections(list);
}

void ClearAllFiles(CListCtrl& list, int* restartAdvised)
{
    int count = list.GetItemCount();
    if (count <= 0) {
        ShowMessage(kNothingFound);
        return;
    }
    *restartAdvised = 1;
    // The list is not touched until the rescan, so each row is visited once.
    for (int row = 0; row < count; ++row)
        RemoveRowFile(list, row);
    ScanInfections(list);
}
