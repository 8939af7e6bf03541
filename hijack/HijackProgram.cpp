#include "HijackProgram.h"

#include "Findings.h"
#include "system/FileProtection.h"
#include "system/NativeApi.h"
#include "system/ProgramImage.h"
#include "system/RealPath.h"
#include "system/RestartQueue.h"
#include "system/SystemVariables.h"
#include "system/Wow64.h"

#include <cwchar>

namespace {
const wchar_t kNtPrefix[] = L"\\??\\";
const size_t kNtPrefixLength = 4;
const wchar_t kProgramExtension[] = L".exe";  // SearchPath's default, which CreateProcess asks for
const wchar_t kLibraryExtension[] = L".dll";  // LoadLibrary's default

// Whether the Session Manager will resolve the path as it is written: its
// NT form is "\??\" followed by the path itself. That holds only for a full
// drive path that the conversion leaves alone, with no "/" for "\", no "."
// or "..", no dots or spaces ending a name, no repeated "\", and no device
// name (NUL, AUX, COM1) anywhere. Anything else is never even opened:
// opening a pipe or a share may hand our rights to whoever serves it.
bool IsPlainPath(const wchar_t* path)
{
    UNICODE_STRING nt = {};
    if (!DosPathToNtPath(path, &nt))
        return false;
    size_t length = std::wcslen(path);
    bool plain = nt.Length == (kNtPrefixLength + length) * sizeof(wchar_t) &&
                 std::wmemcmp(nt.Buffer, kNtPrefix, kNtPrefixLength) == 0 &&
                 std::wmemcmp(nt.Buffer + kNtPrefixLength, path, length) == 0;
    ::HeapFree(::GetProcessHeap(), 0, nt.Buffer);
    return plain;
}

// Whether the last part of a path has no extension (no dot in it).
bool IsBare(const wchar_t* path, size_t length)
{
    size_t name = length;
    while (name > 0 && path[name - 1] != L'\\')
        --name;
    return std::wmemchr(path + name, L'.', length - name) == nullptr;
}

// Whether a path (`length` characters) ends in an extension that cmd.exe
// starts as a program itself, rather than by its type's association.
bool HasProgramExtension(const wchar_t* path, size_t length)
{
    wchar_t extension[5];
    if (length < 4)
        return false;
    std::wmemcpy(extension, path + length - 4, 4);
    extension[4] = L'\0';
    return SameName(extension, L".exe") || SameName(extension, L".com");
}

// The file the launcher looks for: a name without an extension with the
// default one, and only so; any other as it is. False when that does not fit.
bool WithDefaultExtension(const wchar_t* path, size_t length, const wchar_t* extension, wchar_t (&file)[MAX_PATH])
{
    const bool bare = IsBare(path, length);
    if (length + (bare ? std::wcslen(extension) : 0) >= MAX_PATH)
        return false;
    std::wmemcpy(file, path, length);
    ::lstrcpyW(file + length, bare ? extension : L"");
    return true;
}

// The path a text of one program names: CreateProcess takes an unquoted
// command up to a space, so spaces that end it are no part of it; a path
// in quotes is the text inside (*whole). False when nothing is left.
bool WholeTextPath(const wchar_t* text, const wchar_t** path, size_t* length, bool* whole)
{
    size_t end = std::wcslen(text);
    while (end > 0 && text[end - 1] == L' ')
        --end;
    *whole = end >= 2 && text[0] == L'"' && text[end - 1] == L'"';
    *path = *whole ? text + 1 : text;
    *length = *whole ? end - 2 : end;
    return *length > 0;
}

// The first token of a command line: the text inside its opening quotes,
// or up to its first space or tab, after the spaces and tabs that lead it.
bool FirstToken(const wchar_t* command, const wchar_t** token, size_t* length)
{
    while (*command == L' ' || *command == L'\t')
        ++command;
    const wchar_t* end = nullptr;
    if (*command == L'"') {
        ++command;
        end = std::wcschr(command, L'"');
    } else {
        end = command + std::wcscspn(command, L" \t");
    }
    *token = command;
    *length = end != nullptr ? static_cast<size_t>(end - command) : 0;
    return *length > 0;
}

// The program cmd.exe starts first for a command line, where its own
// syntax leaves no doubt: in quotes, the text inside, which must end the
// token and hold no "%" or "!" (which cmd.exe expands again); unquoted, up
// to a space or tab, with none of the characters that cmd.exe reads as
// operators, escapes, separators or variables.
bool CommandToken(const wchar_t* command, const wchar_t** token, size_t* length)
{
    if (!FirstToken(command, token, length))
        return false;
    const bool quoted = *token > command && (*token)[-1] == L'"';
    if (quoted) {
        const wchar_t after = (*token)[*length + 1];
        return (after == L'\0' || after == L' ' || after == L'\t') &&
               std::wcscspn(*token, L"%!\"") >= *length;
    }
    return std::wcscspn(*token, L"&|<>^()%!,;=\"") >= *length;
}

// One DLL by its full path: the whole text, with no separator of a list
// (space or comma) in it.
bool OneLibrary(const wchar_t* text, const wchar_t** path, size_t* length)
{
    *path = text;
    *length = std::wcslen(text);
    return *length > 0 && std::wcscspn(text, L" ,\t\"") == *length;
}

// Whether a file (no directory) is there, as the program kind opens it.
bool FileThere(const wchar_t* path, int program)
{
    NativeFileSystem native(program == kNativePrograms);
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// cmd.exe's search for a name without an extension: each extension of
// PATHEXT in its order, the first file found deciding; only a program
// (.com or .exe) is one this program deletes.
Queueing SearchAsCommandProcessor(const wchar_t* name, size_t length, int program, wchar_t (&file)[MAX_PATH])
{
    wchar_t* extensions = CommandExtensions();
    if (extensions == nullptr)
        return kUnknownVariable;
    Queueing queueing = kNoSuchFile;
    for (const wchar_t* extension = extensions; *extension != L'\0' && queueing == kNoSuchFile;) {
        const size_t size = std::wcscspn(extension, L";");
        if (length + size < MAX_PATH) {
            std::wmemcpy(file, name, length);
            std::wmemcpy(file + length, extension, size);
            file[length + size] = L'\0';
            if (FileThere(file, program))
                queueing = HasProgramExtension(file, length + size) ? kQueued : kScriptFound;
        }
        extension += size + (extension[size] == L';');
    }
    ::LocalFree(extensions);
    if (queueing == kNoSuchFile && length < MAX_PATH) {
        std::wmemcpy(file, name, length);  // named as it is written
        file[length] = L'\0';
    }
    return queueing;
}

// Whether an unquoted path with spaces starts another program before it:
// CreateProcess tries each part up to a space in turn and starts the first
// file there.
bool EarlierProgramExists(const wchar_t* path, int program)
{
    for (const wchar_t* space = std::wcschr(path, L' '); space != nullptr; space = std::wcschr(space + 1, L' ')) {
        wchar_t part[MAX_PATH];
        if (WithDefaultExtension(path, static_cast<size_t>(space - path), kProgramExtension, part) &&
            FileThere(part, program))
            return true;
    }
    return false;
}

// What a file is: kQueued for a program that nothing protects, else why
// it is no program to delete.
struct FileFacts {
    Queueing queueing;
    Trust trust;
    bool signatureChecked;
    wchar_t real[MAX_PATH];
    wchar_t signer[kSignerRoom];
};

const DWORD kSmallFile = 16 * 1024 * 1024;
const unsigned long long kHashedInAScan = 512ull * 1024 * 1024;
}  // namespace

// A file learnt once in a scan, under the key it was asked for by.
struct FileVerdicts::Entry {
    Entry* next;
    FileFacts facts;
    wchar_t key[1];
};

namespace {

// Opens the file at `path` as a program of the kind does (a 32-bit one
// with WOW64's file redirection on, a native one with it off) and learns
// its real path, whether it is a program this Windows starts, who signed
// it (once for a file of the scan, whatever path led to it) and whether
// Windows protects it.
void LearnFile(const wchar_t* path, int program, bool library, FileVerdicts* verdicts, FileFacts& facts)
{
    ::lstrcpynW(facts.real, path, MAX_PATH);
    facts.signer[0] = L'\0';
    facts.trust = kNoFile;
    facts.queueing = kNoSuchFile;
    facts.signatureChecked = false;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_FILE_NOT_FOUND;
    {
        NativeFileSystem native(program == kNativePrograms);
        file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        error = ::GetLastError();
    }
    if (file == INVALID_HANDLE_VALUE) {
        const bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        facts.trust = absent ? kNoFile : kUnverifiable;
        facts.queueing = absent ? kNoSuchFile : kUnreadableFile;
        return;
    }
    // The real path is the native one, which the Session Manager resolves
    // as it stands; its long form names the file whatever short names led there.
    wchar_t found[MAX_PATH];
    bool located = RealPathOf(file, path, found);
    if (located) {
        NativeFileSystem native;
        const DWORD length = ::GetLongPathNameW(found, facts.real, MAX_PATH);
        located = length > 0 && length < MAX_PATH;
        if (!located)
            ::lstrcpynW(facts.real, path, MAX_PATH);
    }
    const bool starts = library || IsWindowsProgram(file);
    const FileVerdicts::Entry* known = located && verdicts != nullptr ? verdicts->Checked(facts.real) : nullptr;
    if (known != nullptr) {
        facts.trust = known->facts.trust;
        ::lstrcpyW(facts.signer, known->facts.signer);
    } else if (verdicts == nullptr || verdicts->MayHash(::GetFileSize(file, nullptr))) {
        facts.trust = CheckSignature(file, facts.real, facts.signer);
    } else {
        facts.trust = kUnverifiable;
    }
    facts.signatureChecked = located;
    ::CloseHandle(file);
    // The protection check loads sfc.dll: outside any native file system.
    facts.queueing = !located                           ? kNotPlainPath
                     : !starts                          ? kNotAProgram
                     : IsProtectedSystemFile(facts.real) ? kProtectedFile
                     : facts.trust == kTrustedSigner    ? kTrustedPublisher
                     : library                          ? kLoadedDll
                                                        : kQueued;
}
}  // namespace


FileVerdicts::~FileVerdicts()
{
    while (Entry* entry = m_first) {
        m_first = entry->next;
        ::LocalFree(entry);
    }
}

FileVerdicts::Entry* FileVerdicts::Find(const wchar_t* key) const
{
    for (Entry* entry = m_first; entry != nullptr; entry = entry->next) {
        if (SameName(entry->key, key))
            return entry;
    }
    return nullptr;
}

const FileVerdicts::Entry* FileVerdicts::Checked(const wchar_t* real) const
{
    for (const Entry* entry = m_first; entry != nullptr; entry = entry->next) {
        if (entry->facts.signatureChecked && SameName(entry->facts.real, real))
            return entry;
    }
    return nullptr;
}

bool FileVerdicts::MayHash(DWORD size)
{
    if (size == INVALID_FILE_SIZE || size > kSmallFile) {
        m_hashed += size == INVALID_FILE_SIZE ? kHashedInAScan : size;
        return m_hashed <= kHashedInAScan;
    }
    return true;
}

FileVerdicts::Entry* FileVerdicts::Keep(const wchar_t* key)
{
    const size_t length = std::wcslen(key);
    Entry* entry = static_cast<Entry*>(::LocalAlloc(LMEM_FIXED, sizeof(Entry) + length * sizeof(wchar_t)));
    if (entry == nullptr)
        return nullptr;
    std::wmemcpy(entry->key, key, length + 1);
    entry->next = m_first;
    m_first = entry;
    return entry;
}

namespace {
// Learns the file through the scan's verdicts, where there are any: the
// same path opened the same way is one file.
const FileFacts& Learn(FileVerdicts* verdicts, const wchar_t* path, int program, bool library, FileFacts& own)
{
    wchar_t key[MAX_PATH + 8];
    ::wsprintfW(key, L"%d%d|%s", program, library ? 1 : 0, path);
    if (FileVerdicts::Entry* known = verdicts != nullptr ? verdicts->Find(key) : nullptr)
        return known->facts;
    FileVerdicts::Entry* kept = verdicts != nullptr ? verdicts->Keep(key) : nullptr;
    FileFacts& facts = kept != nullptr ? kept->facts : own;
    LearnFile(path, program, library, verdicts, facts);
    return facts;
}

// Whether the launcher certainly expands the text's variables.
bool Expands(const Finding& found, const KindRule& rule)
{
    return rule.launcher == kShellLauncher || rule.launcher == kCommandProcessor ||
           (rule.launcher == kExpandsItsType && found.type == REG_EXPAND_SZ);
}

// Whether the launcher may expand them or not: a program's name that
// refers to a variable is then not certain.
bool MayExpand(const Finding& found, const KindRule& rule)
{
    return rule.launcher == kMayExpand || (rule.launcher == kExpandsItsType && found.type != REG_EXPAND_SZ);
}

// The text the launcher reads, expanded as it expands it: a block from
// LocalAlloc (null where nothing needs expanding) into *expanded; false
// when what it expands to is not certain.
bool Expanded(const Finding& found, const KindRule& rule, const wchar_t* text, int program, wchar_t** expanded)
{
    *expanded = nullptr;
    if (!Expands(found, rule) || !RefersToVariable(text))
        return true;
    *expanded = ExpandSystemVariables(text, program, rule.starting != kStartsWholeText);
    return *expanded != nullptr;
}

// The file one kind of program starts or loads for the finding's text:
// kQueued or kNoSuchFile with its path in `named`, and whether that is all
// of the program's name (*whole); or why it names none.
Queueing NamedPath(const Finding& found, const KindRule& rule, const wchar_t* text, int program,
                   wchar_t (&named)[MAX_PATH], bool* whole)
{
    wchar_t* expanded = nullptr;
    if (!Expanded(found, rule, text, program, &expanded))
        return kUnknownVariable;
    const wchar_t* command = expanded != nullptr ? expanded : text;
    const wchar_t* path = nullptr;
    size_t length = 0;
    bool read = false;
    *whole = true;
    if (rule.starting == kStartsWholeText || rule.starting == kIsWindowsOwn)
        read = WholeTextPath(command, &path, &length, whole);
    else if (rule.starting == kLoadsOneDll)
        read = OneLibrary(command, &path, &length);
    else if (rule.launcher == kCommandProcessor)
        read = CommandToken(command, &path, &length);
    else
        read = FirstToken(command, &path, &length);
    Queueing queueing = kNotPlainPath;
    if (read && MayExpand(found, rule) && std::wmemchr(path, L'%', length) != nullptr)
        queueing = kUnknownVariable;
    else if (read && rule.launcher == kCommandProcessor && IsBare(path, length))
        queueing = SearchAsCommandProcessor(path, length, program, named);
    else if (read && rule.launcher == kCommandProcessor && !HasProgramExtension(path, length))
        queueing = kScriptFound;
    else if (read && WithDefaultExtension(path, length, rule.starting == kLoadsOneDll ? kLibraryExtension
                                                                                         : kProgramExtension,
                                          named))
        queueing = kQueued;
    if (expanded != nullptr)
        ::LocalFree(expanded);
    if (queueing == kQueued && !*whole && EarlierProgramExists(named, program))
        return kNotPlainPath;  // another program starts first: the text names none
    return (queueing == kQueued || queueing == kNoSuchFile) && !IsPlainPath(named) ? kNotPlainPath : queueing;
}
}  // namespace

void ResolveStartedFiles(const Finding& found, FileVerdicts* verdicts, StartedFiles& started)
{
    const KindRule& rule = RuleOf(found.kind);
    started.count = 0;
    started.queueing = kNamesNoProgram;
    const wchar_t* text = rule.starting == kStartsTarget ? found.target : found.text;
    if (found.unreadable || rule.starting == kStartsNothing || text == nullptr || text[0] == L'\0')
        return;
    const int kinds[] = { kNativePrograms, kWow64Programs };
    for (int program : kinds) {
#ifdef _WIN64
        // No 32-bit side to open a path as.
        if (program == kWow64Programs)
            continue;
#endif
        if (!(found.programs & program))
            continue;
        wchar_t named[MAX_PATH];
        bool whole = true;
        const Queueing queueing = NamedPath(found, rule, text, program, named, &whole);
        if (queueing != kQueued && queueing != kNoSuchFile) {
            started.queueing = queueing;
            continue;
        }
        FileFacts own;
        const FileFacts& facts = Learn(verdicts, named, program, rule.starting == kLoadsOneDll, own);
        // A file of system32 and of SysWOW64 are two; one path both open, one.
        StartedFile* same = started.count == 1 && SameName(started.files[0].path, facts.real) ? &started.files[0]
                                                                                            : nullptr;
        if (same != nullptr) {
            same->programs |= program;
            continue;
        }
        StartedFile& file = started.files[started.count];
        ::lstrcpyW(started.paths[started.count], facts.real);
        ::lstrcpyW(started.signers[started.count], facts.signer);
        file.programs = program;
        file.path = started.paths[started.count];
        file.signer = started.signers[started.count];
        file.trust = facts.trust;
        file.queueing = rule.starting == kIsWindowsOwn ? kRestoredInstead
                        : facts.queueing == kQueued && rule.starting == kStartsTarget && !found.targetIsOwn
                            ? kThroughOtherKey
                            : facts.queueing;
        ++started.count;
    }
}

void QueueStartedFiles(const Finding& found)
{
    StartedFiles started;
    ResolveStartedFiles(found, nullptr, started);
    for (int i = 0; i < started.count; ++i) {
        if (started.files[i].queueing == kQueued)
            QueueDeleteAtRestart(started.files[i].path);
    }
}
