// Replaces one imported function of this executable for the life of the
// object, by rewriting its entry in the import address table. Lets a test
// step in between two system calls of the code under test, as another
// program could.
#pragma once

#include <windows.h>

#include <cstring>

namespace testing_support {

class ImportHook {
public:
    ImportHook(const char* dll, const char* function, void* replacement)
    {
        BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
        const IMAGE_NT_HEADERS* nt =
            reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (const IMAGE_IMPORT_DESCRIPTOR* d =
                 reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
             d->Name != 0; ++d) {
            if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0)
                continue;
            const IMAGE_THUNK_DATA* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
            IMAGE_THUNK_DATA* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
            for (; names->u1.AddressOfData != 0; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                    continue;
                const IMAGE_IMPORT_BY_NAME* name =
                    reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(name->Name), function) == 0) {
                    m_slot = reinterpret_cast<void**>(&slots->u1.Function);
                    m_original = *m_slot;
                    Write(replacement);
                    return;
                }
            }
        }
    }
    ~ImportHook()
    {
        if (m_slot != nullptr)
            Write(m_original);
    }
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool Installed() const { return m_slot != nullptr; }
    void* Original() const { return m_original; }

private:
    void Write(void* value)
    {
        DWORD old = 0;
        VirtualProtect(m_slot, sizeof(void*), PAGE_READWRITE, &old);
        *m_slot = value;
        VirtualProtect(m_slot, sizeof(void*), old, &old);
    }

    void** m_slot = nullptr;
    void* m_original = nullptr;
};

}  // namespace testing_support
