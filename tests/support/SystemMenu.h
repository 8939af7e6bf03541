// Reads a window's system menu: command, kind and text of each entry.
#pragma once

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

namespace testing_support {

struct MenuEntry {
    UINT id;
    bool separator;
    std::string text;

    bool operator==(const MenuEntry& other) const
    {
        return id == other.id && separator == other.separator && text == other.text;
    }
};

inline std::ostream& operator<<(std::ostream& out, const MenuEntry& entry)
{
    if (entry.separator)
        return out << "{separator}";
    return out << "{0x" << std::hex << entry.id << std::dec << " \"" << entry.text << "\"}";
}

// The entries of the window's system menu as it stands.
inline std::vector<MenuEntry> SystemMenuEntries(HWND window)
{
    std::vector<MenuEntry> entries;
    HMENU menu = GetSystemMenu(window, FALSE);
    int count = menu != nullptr ? GetMenuItemCount(menu) : 0;
    for (int position = 0; position < count; ++position) {
        char text[256] = "";
        MENUITEMINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof(text);
        GetMenuItemInfoA(menu, position, TRUE, &info);
        bool separator = (info.fType & MFT_SEPARATOR) != 0;
        entries.push_back({ separator ? 0 : info.wID, separator, separator ? std::string() : text });
    }
    return entries;
}

// The entries of the system menu that the system itself gives the window.
// Throws away whatever the program added to the window's menu.
inline std::vector<MenuEntry> DefaultSystemMenuEntries(HWND window)
{
    GetSystemMenu(window, TRUE);
    return SystemMenuEntries(window);
}

}  // namespace testing_support
