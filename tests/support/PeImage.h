// Reads what the loader of an older Windows looks at in a 32-bit executable:
// the versions in its PE header and its import table.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

struct PeImport {
    std::string dll;       // as the table names it, e.g. "KERNEL32.dll"
    std::string function;  // the name, or "@n" for an import by ordinal
};

struct PeImage {
    WORD osMajor = 0, osMinor = 0;
    WORD subsystemMajor = 0, subsystemMinor = 0;
    std::vector<PeImport> imports;
};

// False when the file cannot be read or is not a well-formed 32-bit image.
bool ReadPeImage(const std::string& path, PeImage* image);

}  // namespace testing_support
