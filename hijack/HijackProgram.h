// Which file a hijack's setting names, resolved exactly as the program that
// reads the setting resolves it; who signed that file; and whether
// "清除选定" queues it for deletion at the next start.
#pragma once

#include "system/Signature.h"

#include <windows.h>

struct Finding;

// Whether "清除选定" queues a file, and why not.
enum Queueing {
    kQueued,            // it is queued
    kNamesNoProgram,    // the setting names no program: a type, DLL names, a key this program cannot read
    kThroughOtherKey,   // it is what another key names: another program's class or ProgID, the other classes' verb
    kUnknownVariable,   // the text refers to a variable whose value here is not certain
    kNotPlainPath,      // no plain full path (relative, a share, a device, arguments), or its real path is unknown
    kScriptFound,       // cmd.exe finds a script first
    kNoSuchFile,        // no file there
    kUnreadableFile,    // the file cannot be opened
    kNotAProgram,       // no program this Windows starts
    kLoadedDll,         // a DLL that programs load: never deleted
    kProtectedFile,     // Windows protects it
    kTrustedPublisher,  // a publisher the machine trusts signed it
    kRestoredInstead,   // a program of Windows' own: restored, never deleted
};

// A file that programs reading a setting start or load.
struct StartedFile {
    int programs;            // which programs open it (kNativePrograms, kWow64Programs)
    const wchar_t* path;     // its real path, or the path named where no file was opened
    Trust trust;             // its signature's verdict
    const wchar_t* signer;   // the signer's name, for a trusted or untrusted signer
    Queueing queueing;
};

// Room for what ResolveStartedFiles finds: at most one file for each kind
// of program, their paths and signers.
struct StartedFiles {
    int count;
    StartedFile files[2];
    Queueing queueing;       // why nothing is queued, when no file is named
    wchar_t paths[2][MAX_PATH];
    wchar_t signers[2][kSignerRoom];
};

// What a scan learns of the files it meets, each distinct file checked once:
// a block from LocalAlloc for each, released with it.
class FileVerdicts {
public:
    FileVerdicts() = default;
    ~FileVerdicts();
    FileVerdicts(const FileVerdicts&) = delete;
    FileVerdicts& operator=(const FileVerdicts&) = delete;

    struct Entry;
    Entry* Find(const wchar_t* key) const;
    Entry* Keep(const wchar_t* key);
    // The entry of a file checked already, by its real path, or null.
    const Entry* Checked(const wchar_t* real) const;
    // Whether a file of `size` bytes may still be hashed in this scan: a
    // small one always, larger ones up to a bound for the whole scan, so
    // that a setting naming many large files cannot make it crawl.
    bool MayHash(DWORD size);

private:
    Entry* m_first = nullptr;
    unsigned long long m_hashed = 0;
};

// Resolves the files the finding's setting names, one for each kind of
// program that reads it (the native file first), through `verdicts` where
// given (null: every file checked afresh).
void ResolveStartedFiles(const Finding& found, FileVerdicts* verdicts, StartedFiles& started);

// Queues each file of the finding that "清除选定" queues, resolved afresh,
// and resets its attributes once it is.
void QueueStartedFiles(const Finding& found);
