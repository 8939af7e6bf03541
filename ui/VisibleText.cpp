#include "VisibleText.h"

#include <windows.h>

#include <cwchar>

namespace {
struct Range {
    unsigned long first;
    unsigned long last;
};

// The C0 and C1 controls and the format characters (Cf) of Unicode 15,
// which hold every bidirectional control.
const Range kHidden[] = {
    { 0x0000, 0x001F },   { 0x007F, 0x009F },   { 0x00AD, 0x00AD },   { 0x0600, 0x0605 },
    { 0x061C, 0x061C },   { 0x06DD, 0x06DD },   { 0x070F, 0x070F },   { 0x0890, 0x0891 },
    { 0x08E2, 0x08E2 },   { 0x180E, 0x180E },   { 0x200B, 0x200F },   { 0x202A, 0x202E },
    { 0x2060, 0x2064 },   { 0x2066, 0x206F },   { 0xFEFF, 0xFEFF },   { 0xFFF9, 0xFFFB },
    { 0x110BD, 0x110BD }, { 0x110CD, 0x110CD }, { 0x13430, 0x1343F }, { 0x1BCA0, 0x1BCA3 },
    { 0x1D173, 0x1D17A }, { 0xE0001, 0xE0001 }, { 0xE0020, 0xE007F },
};

bool IsHidden(unsigned long c)
{
    for (const Range& range : kHidden) {
        if (c >= range.first && c <= range.last)
            return true;
    }
    return false;
}

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Where the run of spaces and dots that ends the text begins.
size_t TrailingRun(const wchar_t* text, size_t length)
{
    while (length > 0 && (text[length - 1] == L' ' || text[length - 1] == L'.'))
        --length;
    return length;
}
}  // namespace

void AppendVisible(wchar_t* out, size_t room, const wchar_t* text)
{
    size_t used = std::wcslen(out);
    size_t length = std::wcslen(text);
    size_t trailing = TrailingRun(text, length);
    for (size_t i = 0; i < length;) {
        unsigned long c = text[i];
        size_t units = 1;
        if (IsHighSurrogate(text[i]) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            units = 2;
        }
        wchar_t code[16];
        const wchar_t* shown = text + i;
        size_t shownUnits = units;
        if (IsHidden(c) || i >= trailing) {
            ::wsprintfW(code, L"<U+%04lX>", c);
            shown = code;
            shownUnits = std::wcslen(code);
        }
        if (used + shownUnits >= room)
            break;
        std::wmemcpy(out + used, shown, shownUnits);
        used += shownUnits;
        i += units;
    }
    out[used] = L'\0';
}
