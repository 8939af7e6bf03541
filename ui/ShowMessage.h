#pragma once

#include <windows.h>

// Every message the program shows: no owner window, an empty caption and
// no icon. Returns the button pressed.
inline int ShowMessage(const char* text, UINT buttons = MB_OK)
{
    return ::MessageBoxA(nullptr, text, "", buttons);
}
