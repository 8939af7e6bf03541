#include "DialogDriver.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace testing_support {

namespace {
const size_t kRemoteSize = 4096;
const char kDialogClass[] = "#32770";
const char kAboutCaption[] = "Kesmit";  // the one dialog of the window's thread that is no message box

template <class Done> bool WaitFor(DWORD timeoutMs, Done done)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
}

std::string WindowText(HWND window)
{
    char text[1024] = "";
    SendMessageA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
    return text;
}

struct Search {
    const char* caption;
    DWORD processId;
    DWORD threadId;
    HWND window;                         // not this one
    const std::vector<HWND>* exclude;  // nor these
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param)
{
    Search* search = reinterpret_cast<Search*>(param);
    char className[32] = "";
    GetClassNameA(window, className, sizeof(className));
    if (lstrcmpA(className, kDialogClass) != 0 || !IsWindowVisible(window) || window == search->window)
        return TRUE;
    if (search->exclude != nullptr &&
        std::find(search->exclude->begin(), search->exclude->end(), window) != search->exclude->end())
        return TRUE;
    DWORD processId = 0;
    DWORD threadId = GetWindowThreadProcessId(window, &processId);
    if (search->processId != 0 && processId != search->processId)
        return TRUE;
    if (search->threadId != 0 && threadId != search->threadId)
        return TRUE;
    std::string caption = WindowText(window);
    if (search->caption != nullptr ? caption != search->caption : caption == kAboutCaption)
        return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK FindMessageText(HWND child, LPARAM param)
{
    char className[32] = "";
    GetClassNameA(child, className, sizeof(className));
    if (lstrcmpiA(className, "Static") == 0 && IsWindowVisible(child)) {
        std::string text = WindowText(child);
        if (!text.empty()) {
            *reinterpret_cast<std::string*>(param) = text;
            return FALSE;
        }
    }
    return TRUE;
}

BOOL CALLBACK CollectButtons(HWND child, LPARAM param)
{
    char className[32] = "";
    GetClassNameA(child, className, sizeof(className));
    if (lstrcmpiA(className, "Button") == 0 && IsWindowVisible(child))
        reinterpret_cast<std::vector<int>*>(param)->push_back(GetDlgCtrlID(child));
    return TRUE;
}
}  // namespace

HWND DialogDriver::WaitForWindow(const char* caption, DWORD processId, DWORD timeoutMs)
{
    Search search = { caption, processId, 0, nullptr, nullptr, nullptr };
    WaitFor(timeoutMs, [&] {
        EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    });
    return search.found;
}

DialogDriver::DialogDriver(HWND window) : m_window(window)
{
    DWORD processId = 0;
    m_threadId = GetWindowThreadProcessId(window, &processId);
    m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
}

DialogDriver::~DialogDriver()
{
    if (m_remote != nullptr)
        VirtualFreeEx(m_process, m_remote, 0, MEM_RELEASE);
    if (m_process != nullptr)
        CloseHandle(m_process);
}

void* DialogDriver::Remote(size_t size)
{
    EXPECT_LE(size, kRemoteSize);
    if (m_remote == nullptr)
        m_remote = VirtualAllocEx(m_process, nullptr, kRemoteSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    return m_remote;
}

void DialogDriver::Write(void* remote, const void* local, size_t size)
{
    SIZE_T done = 0;
    EXPECT_TRUE(WriteProcessMemory(m_process, remote, local, size, &done));
}

void DialogDriver::Read(const void* remote, void* local, size_t size)
{
    SIZE_T done = 0;
    EXPECT_TRUE(ReadProcessMemory(m_process, remote, local, size, &done));
}

void DialogDriver::Press(int id)
{
    HWND button = GetDlgItem(m_window, id);
    PostMessageA(m_window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    Sync();
}

void DialogDriver::Sync()
{
    // Hover time only matters to lists that select rows on hover, which the
    // result list does not: setting it changes nothing the user sees.
    HWND list = GetDlgItem(m_window, 1001);
    DWORD marker = 0x40000000u + (++m_syncCount);
    PostMessageA(list, LVM_SETHOVERTIME, 0, marker);
    EXPECT_TRUE(WaitFor(60000, [&] {
        return !IsWindow(list) || static_cast<DWORD>(SendMessageA(list, LVM_GETHOVERTIME, 0, 0)) == marker ||
               FindMessageBox() != nullptr;
    })) << "the window does not answer";
}

HWND DialogDriver::FindMessageBox() const
{
    // Any dialog of the thread but the main window and the About box,
    // whatever its caption: NextMessage checks that it has none. Boxes
    // already found are still open behind this one.
    Search search = { nullptr, 0, m_threadId, m_window, &m_boxes, nullptr };
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string DialogDriver::NextMessage(DWORD timeoutMs)
{
    HWND box = nullptr;
    if (!WaitFor(timeoutMs, [&] { return (box = FindMessageBox()) != nullptr; }))
        return std::string();
    m_boxes.push_back(box);
    EXPECT_EQ("", WindowText(box)) << "a message box has no caption";
    std::string text;
    HWND label = GetDlgItem(box, 0xFFFF);
    if (label != nullptr)
        text = WindowText(label);
    if (text.empty())
        EnumChildWindows(box, FindMessageText, reinterpret_cast<LPARAM>(&text));
    return text;
}

std::vector<int> DialogDriver::MessageButtons() const
{
    std::vector<int> ids;
    if (!m_boxes.empty())
        EnumChildWindows(m_boxes.back(), CollectButtons, reinterpret_cast<LPARAM>(&ids));
    return ids;
}

void DialogDriver::Answer(int button)
{
    if (m_boxes.empty())
        return;
    HWND box = m_boxes.back();
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    // A closed box stays hidden a while before it is destroyed.
    EXPECT_TRUE(WaitFor(20000, [&] { return !IsWindow(box) || !IsWindowVisible(box); })) << "message box stays open";
    m_boxes.pop_back();
    if (IsWindow(m_window))
        Sync();
}

std::string DialogDriver::ReadAndClose(DWORD timeoutMs)
{
    std::string text = NextMessage(timeoutMs);
    Answer(IDOK);
    return text;
}

bool DialogDriver::NoMessageWithin(DWORD waitMs)
{
    return !WaitFor(waitMs, [&] { return FindMessageBox() != nullptr; });
}

std::vector<Row> DialogDriver::Rows()
{
    HWND list = GetDlgItem(m_window, 1001);
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    std::vector<Row> rows;
    char* remote = static_cast<char*>(Remote(sizeof(LVITEMA) + 1024));
    for (int row = 0; row < count; ++row) {
        std::string texts[2];
        for (int column = 0; column < 2; ++column) {
            LVITEMA item = {};
            item.iSubItem = column;
            item.pszText = remote + sizeof(LVITEMA);
            item.cchTextMax = 1024;
            Write(remote, &item, sizeof(item));
            int length = static_cast<int>(SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote)));
            char text[1025] = "";
            Read(remote + sizeof(LVITEMA), text, 1024);
            texts[column].assign(text, length > 0 ? length : 0);
        }
        rows.emplace_back(texts[0], texts[1]);
    }
    return rows;
}

std::vector<std::string> DialogDriver::ColumnHeadings()
{
    HWND list = GetDlgItem(m_window, 1001);
    std::vector<std::string> headings;
    char* remote = static_cast<char*>(Remote(sizeof(LVCOLUMNA) + 256));
    for (int column = 0;; ++column) {
        LVCOLUMNA info = {};
        info.mask = LVCF_TEXT;
        info.pszText = remote + sizeof(LVCOLUMNA);
        info.cchTextMax = 256;
        Write(remote, &info, sizeof(info));
        if (!SendMessageA(list, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(remote)))
            break;
        char text[257] = "";
        Read(remote + sizeof(LVCOLUMNA), text, 256);
        headings.push_back(text);
    }
    return headings;
}

std::vector<int> DialogDriver::ColumnWidths()
{
    HWND list = GetDlgItem(m_window, 1001);
    std::vector<int> widths;
    for (int column = 0; column < static_cast<int>(ColumnHeadings().size()); ++column)
        widths.push_back(static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0)));
    return widths;
}

int DialogDriver::SelectionMark()
{
    return static_cast<int>(SendMessageA(GetDlgItem(m_window, 1001), LVM_GETSELECTIONMARK, 0, 0));
}

void DialogDriver::ClickRow(int row)
{
    HWND list = GetDlgItem(m_window, 1001);
    RECT* remote = static_cast<RECT*>(Remote(sizeof(RECT)));
    RECT bounds = {};
    bounds.left = LVIR_LABEL;
    Write(remote, &bounds, sizeof(bounds));
    ASSERT_TRUE(SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(remote))) << "row " << row;
    Read(remote, &bounds, sizeof(bounds));
    Click(MAKELPARAM(bounds.left + 4, (bounds.top + bounds.bottom) / 2));
    EXPECT_TRUE(WaitFor(5000, [&] { return SelectionMark() == row; })) << "row " << row << " not selected";
}

void DialogDriver::ClickBelowTheRows()
{
    HWND list = GetDlgItem(m_window, 1001);
    RECT client;
    GetClientRect(list, &client);
    Click(MAKELPARAM(client.right / 2, client.bottom - 4));
    EXPECT_TRUE(WaitFor(5000, [&] { return SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) == 0; }))
        << "a row stays selected";
}

void DialogDriver::Click(LPARAM point)
{
    HWND list = GetDlgItem(m_window, 1001);
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageA(list, WM_LBUTTONUP, 0, point);
}

std::vector<std::string> DialogDriver::TabTexts()
{
    HWND tab = GetDlgItem(m_window, 1005);
    std::vector<std::string> texts;
    char* remote = static_cast<char*>(Remote(sizeof(TCITEMA) + 256));
    int count = static_cast<int>(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) {
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = remote + sizeof(TCITEMA);
        item.cchTextMax = 256;
        Write(remote, &item, sizeof(item));
        SendMessageA(tab, TCM_GETITEMA, index, reinterpret_cast<LPARAM>(remote));
        char text[257] = "";
        Read(remote + sizeof(TCITEMA), text, 256);
        texts.push_back(text);
    }
    return texts;
}

HWND DialogDriver::FocusedControl()
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(m_threadId, &info);
    return info.hwndFocus;
}

void DialogDriver::SelectTab(int index)
{
    // A click on the tab, as a user's: the control selects it and tells its
    // parent with TCN_SELCHANGE itself. The control is hidden and zero-high,
    // but its tabs keep their places, and a click at one hits it.
    HWND tab = GetDlgItem(m_window, 1005);
    RECT* remote = static_cast<RECT*>(Remote(sizeof(RECT)));
    RECT bounds = {};
    Write(remote, &bounds, sizeof(bounds));
    ASSERT_TRUE(SendMessageA(tab, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(remote))) << "tab " << index;
    Read(remote, &bounds, sizeof(bounds));
    LPARAM point = MAKELPARAM((bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2);
    PostMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageA(tab, WM_LBUTTONUP, 0, point);
    Sync();
    EXPECT_EQ(index, static_cast<int>(SendMessageA(tab, TCM_GETCURSEL, 0, 0))) << "tab " << index << " not selected";
}

void DialogDriver::PressEscape()
{
    // The key goes to the control with the focus; the dialog manager turns
    // it into the cancel command.
    HWND target = FocusedControl();
    if (target == nullptr || (target != m_window && !IsChild(m_window, target)))
        target = m_window;
    PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

void DialogDriver::PressCloseBox()
{
    PostMessageA(m_window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void DialogDriver::PressEnter()
{
    // Focus on the list, so that no push button takes the key.
    HWND list = GetDlgItem(m_window, 1001);
    PostMessageA(m_window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(list), TRUE);
    PostMessageA(list, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageA(list, WM_KEYUP, VK_RETURN, 0xC01C0001);
}

bool DialogDriver::WaitUntilClosed(DWORD timeoutMs)
{
    return WaitFor(timeoutMs, [&] { return !IsWindow(m_window); });
}

void DialogDriver::Abandon()
{
    for (int i = 0; i < 20 && IsWindow(m_window); ++i) {
        m_boxes.clear();  // any box still open is closed, found before or not
        if (HWND box = FindMessageBox()) {
            m_boxes.push_back(box);
            Answer(IDNO);  // ends a box whatever its buttons
        }
        PostMessageA(m_window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        WaitFor(1000, [&] { return !IsWindow(m_window); });
    }
}

void RunDriven(const char* caption, const std::function<void()>& dialogRun,
               const std::function<void(DialogDriver&)>& script)
{
    std::thread driverThread([&] {
        HWND window = DialogDriver::WaitForWindow(caption, GetCurrentProcessId(), 20000);
        if (window == nullptr) {
            ADD_FAILURE() << "window \"" << caption << "\" did not appear";
            return;
        }
        DialogDriver driver(window);
        script(driver);
        if (!driver.WaitUntilClosed(0))
            driver.Abandon();
    });
    dialogRun();
    driverThread.join();
}

}  // namespace testing_support
