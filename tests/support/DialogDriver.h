// Drives a dialog window as a user would, from another thread or another
// process: presses buttons, reads and answers message boxes, reads the
// list view, clicks rows and switches the tab control.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

typedef std::pair<std::string, std::string> Row;

class DialogDriver {
public:
    // Waits up to timeoutMs for a visible dialog window with this caption,
    // belonging to the given process (0 for any).
    static HWND WaitForWindow(const char* caption, DWORD processId, DWORD timeoutMs);

    explicit DialogDriver(HWND window);
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    HWND Window() const { return m_window; }

    // Presses a push button of the window (a posted click, as a user's). Returns
    // once the handler has finished, or is waiting in a message box.
    void Press(int id);

    // Waits until the window's thread has handled everything posted to it so
    // far (or is showing a message box): it posts a harmless setting to the
    // list and waits for it to take effect.
    void Sync();

    // Waits for the next message box of the window's thread, returns its text
    // ("" on time-out: no box appeared). The box stays open until Answer; a
    // box that opens while it is open is the next message.
    std::string NextMessage(DWORD timeoutMs = 20000);
    // The box that NextMessage found last and that is still open, or null.
    HWND Box() const { return m_boxes.empty() ? nullptr : m_boxes.back(); }
    // Presses a button (IDOK, IDYES, IDNO) of that box, and waits for it to
    // be gone; the box open behind it, if any, becomes Box().
    void Answer(int button = IDOK);
    // NextMessage then Answer(IDOK).
    std::string ReadAndClose(DWORD timeoutMs = 20000);
    // True when no message box of the window's thread, other than those
    // found and still open, shows within waitMs.
    bool NoMessageWithin(DWORD waitMs);
    // The texts of a box's buttons, for the box that NextMessage found.
    std::vector<int> MessageButtons() const;

    std::vector<Row> Rows();
    std::vector<std::string> ColumnHeadings();
    std::vector<int> ColumnWidths();
    int SelectionMark();
    void ClickRow(int row);
    // A click on empty list space, which clears the selection; the
    // selection mark stays on the row clicked last.
    void ClickBelowTheRows();

    std::vector<std::string> TabTexts();
    HWND FocusedControl();

    // Selects a tab with a click on it, as a user would: the control sends
    // its parent the selection-change notification itself.
    void SelectTab(int index);

    // Closes the window: the Esc key's command, the close box, or Enter.
    void PressEscape();
    void PressCloseBox();
    void PressEnter();

    // True once the window has been destroyed (waits up to timeoutMs).
    bool WaitUntilClosed(DWORD timeoutMs = 20000);

    // Ends a run that went wrong: closes any message box, then the window.
    void Abandon();

private:
    HWND FindMessageBox() const;
    void Click(LPARAM point);  // on the list
    void* Remote(size_t size);
    void Write(void* remote, const void* local, size_t size);
    void Read(const void* remote, void* local, size_t size);

    HWND m_window;
    DWORD m_threadId;
    HANDLE m_process;
    std::vector<HWND> m_boxes;  // found and not yet answered, the newest last
    void* m_remote = nullptr;
    DWORD m_syncCount = 0;
};

// Runs `dialogRun` (which shows the dialog modally) on this thread while
// `script` drives the window found by its caption from another thread.
// Whatever the script leaves open is closed afterwards.
void RunDriven(const char* caption, const std::function<void()>& dialogRun,
               const std::function<void(DialogDriver&)>& script);

}  // namespace testing_support
