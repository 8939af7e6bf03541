#include "NativeApi.h"

namespace {
FARPROC NtdllProc(const char* name)
{
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr ? ::GetProcAddress(ntdll, name) : nullptr;
}

template <class F> F NtdllFunction(const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(NtdllProc(name)));
}
}  // namespace

BOOL DosPathToNtPath(const wchar_t* dosPath, UNICODE_STRING* ntPath)
{
    typedef BOOLEAN(NTAPI * Fn)(PCWSTR, PUNICODE_STRING, PCWSTR*, void*);
    const Fn convert = NtdllFunction<Fn>("RtlDosPathNameToNtPathName_U");
    if (convert == nullptr)
        return FALSE;
    return convert(dosPath, ntPath, nullptr, nullptr) ? TRUE : FALSE;
}

int NativeStrnicmp(const char* a, const char* b, size_t count)
{
    typedef int(__cdecl * Fn)(const char*, const char*, size_t);
    const Fn compare = NtdllFunction<Fn>("_strnicmp");
    if (compare == nullptr)
        return 1;
    return compare(a, b, count);
}
