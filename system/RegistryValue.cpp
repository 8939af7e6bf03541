#include "RegistryValue.h"

#include <cstring>

WholeValue::WholeValue(HKEY key, const wchar_t* name)
{
    m_size = sizeof(m_local);
    LONG status = ::RegQueryValueExW(key, name, nullptr, &m_type, reinterpret_cast<BYTE*>(m_local), &m_size);
    if (status == ERROR_MORE_DATA) {
        m_block = static_cast<BYTE*>(::LocalAlloc(LMEM_FIXED, m_size));
        if (m_block == nullptr)
            return;
        status = ::RegQueryValueExW(key, name, nullptr, &m_type, m_block, &m_size);
    }
    m_read = status == ERROR_SUCCESS;
}

WholeValue::~WholeValue()
{
    if (m_block != nullptr)
        ::LocalFree(m_block);
}

wchar_t* WholeValue::CopyText(bool anyType) const
{
    if (!m_read || (!anyType && m_type != REG_SZ && m_type != REG_EXPAND_SZ))
        return nullptr;
    // Zero-filled: a string stored without its terminator ends here.
    wchar_t* text = static_cast<wchar_t*>(::LocalAlloc(LPTR, m_size + 2 * sizeof(wchar_t)));
    if (text != nullptr)
        std::memcpy(text, Data(), m_size);
    return text;
}
