// A registry value read whole, however long it is.
#pragma once

#include <windows.h>

// The value's type and all its bytes, read on construction: in a room of
// its own when they fit, else in a block from LocalAlloc, released with it.
// Not read when the value is absent, or grows between measuring and reading.
class WholeValue {
public:
    WholeValue(HKEY key, const wchar_t* name);
    ~WholeValue();
    WholeValue(const WholeValue&) = delete;
    WholeValue& operator=(const WholeValue&) = delete;

    bool Read() const { return m_read; }
    DWORD Type() const { return m_type; }
    DWORD Size() const { return m_size; }
    const BYTE* Data() const { return m_block != nullptr ? m_block : reinterpret_cast<const BYTE*>(m_local); }

    // A string value's text, up to its first NUL or its end: a block from
    // LocalAlloc for the caller to release, or null for a value that is
    // no REG_SZ or REG_EXPAND_SZ string (`anyType`: the bytes of a value of
    // any type, read as a string).
    wchar_t* CopyText(bool anyType = false) const;

private:
    DWORD m_local[256];  // aligned for the wide characters of a string
    BYTE* m_block = nullptr;
    DWORD m_type = REG_NONE;
    DWORD m_size = 0;
    bool m_read = false;
};
