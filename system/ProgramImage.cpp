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
}  // namespace

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
