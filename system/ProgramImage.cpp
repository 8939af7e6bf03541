#include "ProgramImage.h"

#include <cstddef>

namespace {
const WORD kArm64Architecture = 12;  // PROCESSOR_ARCHITECTURE_ARM64, which older SDKs lack
const WORD kArm64Machine = 0xAA64;   // IMAGE_FILE_MACHINE_ARM64

// The PE signature, the file header and the optional header up to its
// Subsystem field, which lies at the same offset in PE32 and PE32+.
struct ImageHeaders {
    DWORD signature;
    IMAGE_FILE_HEADER file;
    BYTE optional[offsetof(IMAGE_OPTIONAL_HEADER32, Subsystem) + sizeof(WORD)];
};
static_assert(offsetof(IMAGE_OPTIONAL_HEADER32, Subsystem) == offsetof(IMAGE_OPTIONAL_HEADER64, Subsystem),
              "Subsystem lies at one offset in both forms");

bool ReadAt(HANDLE file, LONG offset, void* buffer, DWORD size)
{
    DWORD read = 0;
    return ::SetFilePointer(file, offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           ::ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

WORD WordAt(const BYTE* bytes) { return static_cast<WORD>(bytes[0] | (bytes[1] << 8)); }

// Every Windows runs x86 programs; a 64-bit one runs its own processor's
// too, and Windows 11 on ARM64 x64 ones besides.
bool RunsProgramsFor(WORD machine)
{
    if (machine == IMAGE_FILE_MACHINE_I386)
        return true;
    SYSTEM_INFO system;
    ::GetNativeSystemInfo(&system);
    switch (system.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64: return machine == IMAGE_FILE_MACHINE_AMD64;
    case PROCESSOR_ARCHITECTURE_IA64: return machine == IMAGE_FILE_MACHINE_IA64;
    case kArm64Architecture: return machine == kArm64Machine || machine == IMAGE_FILE_MACHINE_AMD64;
    default: return false;
    }
}
DWORD DwordAt(const BYTE* bytes) { return WordAt(bytes) | (static_cast<DWORD>(WordAt(bytes + 2)) << 16); }

const WORD kVersionType = 16;          // RT_VERSION
const DWORD kSubdirectory = 0x80000000;  // a resource entry that leads to a directory
const DWORD kMostEntries = 32;         // of a resource directory, looked at
const int kMostLookedAt = 256;         // entries of all the version resource's directories together
const DWORD kLargestBlock = 64 * 1024;  // a version block longer is none

// The sections of an image, to find where a relative address lies in the file.
class ImageSections {
public:
    bool Read(HANDLE file, const IMAGE_DOS_HEADER& dos, const ImageHeaders& headers)
    {
        m_count = headers.file.NumberOfSections < kMostSections ? headers.file.NumberOfSections : kMostSections;
        const LONG table = dos.e_lfanew + static_cast<LONG>(offsetof(ImageHeaders, optional)) +
                           headers.file.SizeOfOptionalHeader;
        return ReadAt(file, table, m_sections, m_count * sizeof(IMAGE_SECTION_HEADER));
    }
    // The file offset of `size` bytes at `rva`, all in one section's data; -1 for none.
    LONG OffsetOf(DWORD rva, DWORD size) const
    {
        for (WORD i = 0; i < m_count; ++i) {
            const IMAGE_SECTION_HEADER& section = m_sections[i];
            if (rva >= section.VirtualAddress && rva - section.VirtualAddress <= section.SizeOfRawData &&
                size <= section.SizeOfRawData - (rva - section.VirtualAddress) && section.PointerToRawData < 0x7FFFFFFF)
                return static_cast<LONG>(section.PointerToRawData + (rva - section.VirtualAddress));
        }
        return -1;
    }

private:
    static const WORD kMostSections = 96;
    IMAGE_SECTION_HEADER m_sections[kMostSections];
    WORD m_count = 0;
};

// One node of a version block: its length, its key, its value and its
// children, as VS_VERSIONINFO, StringFileInfo, StringTable and String
// lay them out, each on a 4-byte boundary.
struct VersionNode {
    const BYTE* start;
    const BYTE* end;       // of the node
    const wchar_t* key;    // NUL-terminated within the node
    const BYTE* value;
    size_t valueUnits;     // of a text value
    const BYTE* children;
};

const BYTE* Aligned(const BYTE* base, const BYTE* at) { return at + ((4 - (at - base) % 4) % 4); }

bool ReadNode(const BYTE* base, const BYTE* at, const BYTE* limit, VersionNode* node)
{
    if (limit - at < 6)
        return false;
    const WORD length = WordAt(at);
    const WORD valueLength = WordAt(at + 2);
    if (length < 6 || length > limit - at)
        return false;
    node->start = at;
    node->end = at + length;
    node->key = reinterpret_cast<const wchar_t*>(at + 6);
    const BYTE* keyEnd = at + 6;
    while (keyEnd + 2 <= node->end && WordAt(keyEnd) != 0)
        keyEnd += 2;
    if (keyEnd + 2 > node->end)
        return false;
    node->value = Aligned(base, keyEnd + 2);
    node->valueUnits = valueLength;
    const size_t valueBytes = WordAt(at + 4) == 1 ? valueLength * sizeof(wchar_t) : valueLength;
    if (node->value > node->end || valueBytes > static_cast<size_t>(node->end - node->value))
        return false;
    node->children = Aligned(base, node->value + valueBytes);
    return true;
}

// Whether a node's key is `key`, in any case of its ASCII letters as
// Windows' version functions compare it.
bool KeyIs(const VersionNode& node, const char* key)
{
    const BYTE* at = reinterpret_cast<const BYTE*>(node.key);
    for (size_t i = 0;; ++i, at += 2) {
        const WORD c = WordAt(at);
        const WORD folded = c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
        const char k = key[i] >= 'A' && key[i] <= 'Z' ? static_cast<char>(key[i] + ('a' - 'A')) : key[i];
        if (folded != static_cast<BYTE>(k))
            return false;
        if (c == 0)
            return true;
    }
}

// Calls visit(node) for each child of `parent`.
template <class Visit> void ForEachChild(const BYTE* base, const VersionNode& parent, Visit visit)
{
    VersionNode child;
    for (const BYTE* at = parent.children; at < parent.end && ReadNode(base, at, parent.end, &child);
         at = Aligned(base, child.end))
        visit(child);
}

// The OriginalFilename texts of one version block.
void NamesOfBlock(const BYTE* block, DWORD size, VersionNames& found)
{
    VersionNode root;
    if (!ReadNode(block, block, block + size, &root) || !KeyIs(root, "VS_VERSION_INFO"))
        return;
    ForEachChild(block, root, [&](const VersionNode& info) {
        if (!KeyIs(info, "StringFileInfo"))
            return;
        ForEachChild(block, info, [&](const VersionNode& table) {
            ForEachChild(block, table, [&](const VersionNode& string) {
                if (!KeyIs(string, "OriginalFilename") || found.count >= kMostNames)
                    return;
                wchar_t* name = found.names[found.count++];
                size_t units = 0;
                while (units < string.valueUnits && units + 1 < MAX_PATH && string.value + 2 * (units + 1) <= string.end &&
                       WordAt(string.value + 2 * units) != 0) {
                    name[units] = static_cast<wchar_t>(WordAt(string.value + 2 * units));
                    ++units;
                }
                name[units] = L'\0';
            });
        });
    });
}

// A resource directory's entries at `offset` of the resource data:
// calls visit(entry's id or name word, entry's target) for each, while the
// budget of entries a file may make this program look at lasts: a crafted
// directory may lead to one block from thousands of places.
template <class Visit> void ForEachEntry(HANDLE file, LONG resources, DWORD offset, int& budget, Visit visit)
{
    BYTE directory[16];
    if (!ReadAt(file, resources + static_cast<LONG>(offset & ~kSubdirectory), directory, sizeof(directory)))
        return;
    DWORD count = static_cast<DWORD>(WordAt(directory + 12)) + WordAt(directory + 14);
    for (DWORD i = 0; i < count && i < kMostEntries && budget-- > 0; ++i) {
        BYTE entry[8];
        if (!ReadAt(file, resources + static_cast<LONG>((offset & ~kSubdirectory) + 16 + 8 * i), entry, sizeof(entry)))
            return;
        visit(DwordAt(entry), DwordAt(entry + 4));
    }
}
}  // namespace

void ReadOriginalFilenames(HANDLE file, VersionNames& found)
{
    found.count = 0;
    IMAGE_DOS_HEADER dos;
    ImageHeaders headers;
    if (!ReadAt(file, 0, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0 ||
        !ReadAt(file, dos.e_lfanew, &headers, sizeof(headers)) || headers.signature != IMAGE_NT_SIGNATURE)
        return;
    // The resource directory's place, where each form of the optional header keeps it.
    const WORD magic = WordAt(headers.optional + offsetof(IMAGE_OPTIONAL_HEADER32, Magic));
    const size_t directories = magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                                                                      : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    const size_t resourceEntry = directories + IMAGE_DIRECTORY_ENTRY_RESOURCE * sizeof(IMAGE_DATA_DIRECTORY);
    BYTE entry[sizeof(IMAGE_DATA_DIRECTORY)];
    ImageSections sections;
    if (headers.file.SizeOfOptionalHeader < resourceEntry + sizeof(entry) ||
        !ReadAt(file, dos.e_lfanew + static_cast<LONG>(offsetof(ImageHeaders, optional) + resourceEntry), entry,
                sizeof(entry)) ||
        !sections.Read(file, dos, headers))
        return;
    const LONG resources = sections.OffsetOf(DwordAt(entry), 16);
    if (resources < 0)
        return;
    int budget = kMostLookedAt;
    int blocks = 0;
    ForEachEntry(file, resources, 0, budget, [&](DWORD type, DWORD types) {
        if (type != kVersionType || !(types & kSubdirectory))
            return;
        ForEachEntry(file, resources, types, budget, [&](DWORD, DWORD names) {
            if (!(names & kSubdirectory))
                return;
            ForEachEntry(file, resources, names, budget, [&](DWORD, DWORD language) {
                BYTE data[8];
                if ((language & kSubdirectory) || blocks++ >= kMostNames ||
                    !ReadAt(file, resources + static_cast<LONG>(language), data, 8))
                    return;
                const DWORD size = DwordAt(data + 4);
                const LONG at = size <= kLargestBlock ? sections.OffsetOf(DwordAt(data), size) : -1;
                BYTE* block = at >= 0 ? static_cast<BYTE*>(::LocalAlloc(LMEM_FIXED, size + 1)) : nullptr;
                if (block != nullptr && ReadAt(file, at, block, size))
                    NamesOfBlock(block, size, found);
                if (block != nullptr)
                    ::LocalFree(block);
            });
        });
    });
}

bool IsWindowsProgram(HANDLE file)
{
    IMAGE_DOS_HEADER dos;
    ImageHeaders headers;
    if (!ReadAt(file, 0, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0 ||
        !ReadAt(file, dos.e_lfanew, &headers, sizeof(headers)) || headers.signature != IMAGE_NT_SIGNATURE ||
        headers.file.SizeOfOptionalHeader < sizeof(headers.optional))
        return false;
    WORD characteristics = headers.file.Characteristics;
    WORD magic = WordAt(headers.optional + offsetof(IMAGE_OPTIONAL_HEADER32, Magic));
    WORD subsystem = WordAt(headers.optional + offsetof(IMAGE_OPTIONAL_HEADER32, Subsystem));
    return (characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) && !(characteristics & IMAGE_FILE_DLL) &&
           RunsProgramsFor(headers.file.Machine) &&
           (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC || magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) &&
           (subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI || subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI);
}
