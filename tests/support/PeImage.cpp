#include "PeImage.h"

#include "Prefix.h"

#include <cstring>

namespace testing_support {

namespace {
class File {
public:
    explicit File(std::string bytes) : m_bytes(std::move(bytes)) {}

    // A pointer to `size` bytes at `offset`, or null when they are not all in the file.
    template <class T> const T* At(size_t offset, size_t size = sizeof(T)) const
    {
        return offset <= m_bytes.size() && size <= m_bytes.size() - offset
                   ? reinterpret_cast<const T*>(m_bytes.data() + offset)
                   : nullptr;
    }

    // A zero-terminated string at `offset`, or false when it runs off the end.
    bool String(size_t offset, std::string* text) const
    {
        if (offset >= m_bytes.size())
            return false;
        const void* end = std::memchr(m_bytes.data() + offset, 0, m_bytes.size() - offset);
        if (end == nullptr)
            return false;
        text->assign(m_bytes.data() + offset, static_cast<const char*>(end));
        return true;
    }

private:
    std::string m_bytes;
};

// The file offset of a relative virtual address, through the section table.
bool FileOffset(const IMAGE_SECTION_HEADER* sections, WORD count, DWORD rva, size_t* offset)
{
    for (WORD i = 0; i < count; ++i) {
        const IMAGE_SECTION_HEADER& s = sections[i];
        DWORD extent = s.Misc.VirtualSize > s.SizeOfRawData ? s.Misc.VirtualSize : s.SizeOfRawData;
        if (rva >= s.VirtualAddress && rva - s.VirtualAddress < extent) {
            *offset = s.PointerToRawData + (rva - s.VirtualAddress);
            return true;
        }
    }
    return false;
}
}  // namespace

bool ReadPeImage(const std::string& path, PeImage* image)
{
    bool present = false;
    File file(ReadBytes(path, &present));
    const IMAGE_DOS_HEADER* dos = file.At<IMAGE_DOS_HEADER>(0);
    if (!present || dos == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    const IMAGE_NT_HEADERS32* nt = file.At<IMAGE_NT_HEADERS32>(dos->e_lfanew);
    if (nt == nullptr || nt->Signature != IMAGE_NT_SIGNATURE ||
        nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        return false;
    const IMAGE_OPTIONAL_HEADER32& optional = nt->OptionalHeader;
    image->osMajor = optional.MajorOperatingSystemVersion;
    image->osMinor = optional.MinorOperatingSystemVersion;
    image->subsystemMajor = optional.MajorSubsystemVersion;
    image->subsystemMinor = optional.MinorSubsystemVersion;

    WORD sectionCount = nt->FileHeader.NumberOfSections;
    const IMAGE_SECTION_HEADER* sections = file.At<IMAGE_SECTION_HEADER>(
        dos->e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader,
        sectionCount * sizeof(IMAGE_SECTION_HEADER));
    if (sections == nullptr || optional.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT)
        return false;

    image->imports.clear();
    size_t at = 0;
    DWORD table = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    if (table == 0)
        return true;
    if (!FileOffset(sections, sectionCount, table, &at))
        return false;
    for (;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const IMAGE_IMPORT_DESCRIPTOR* d = file.At<IMAGE_IMPORT_DESCRIPTOR>(at);
        if (d == nullptr)
            return false;
        if (d->Name == 0)
            return true;
        size_t nameAt = 0;
        size_t thunkAt = 0;
        PeImport import;
        DWORD thunks = d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk : d->FirstThunk;
        if (!FileOffset(sections, sectionCount, d->Name, &nameAt) || !file.String(nameAt, &import.dll) ||
            !FileOffset(sections, sectionCount, thunks, &thunkAt))
            return false;
        for (;; thunkAt += sizeof(IMAGE_THUNK_DATA32)) {
            const IMAGE_THUNK_DATA32* thunk = file.At<IMAGE_THUNK_DATA32>(thunkAt);
            if (thunk == nullptr)
                return false;
            DWORD entry = thunk->u1.AddressOfData;
            if (entry == 0)
                break;
            size_t byName = 0;
            if (IMAGE_SNAP_BY_ORDINAL32(entry))
                import.function = "@" + std::to_string(IMAGE_ORDINAL32(entry));
            else if (!FileOffset(sections, sectionCount, entry, &byName) ||
                     !file.String(byName + offsetof(IMAGE_IMPORT_BY_NAME, Name), &import.function))
                return false;
            image->imports.push_back(import);
        }
    }
}

}  // namespace testing_support
