// Who signed a file, and whether Windows trusts the signer: the file's own
// Authenticode signature, or a catalog of the system that lists it, always
// checked offline (no revocation, nothing fetched from the network).
#pragma once

#include <windows.h>

#include <cstddef>

enum Trust {
    kTrustedSigner,    // valid, and its chain ends at a root of the machine's own Root store
    kUntrustedSigner,  // its digest is right, but its chain ends anywhere else (the user's roots too)
    kBadSignature,     // it does not match the file, or Windows rejects it for another reason
    kUnsigned,         // no signature in the file, and no catalog of the system lists it
    kNoFile,           // no such file
    kUnverifiable,     // it cannot be read, or this Windows cannot check its signature
};

// Room for a signer's name: a longer one is cut.
const size_t kSignerRoom = 260;

// Checks the open file (read access, opened from `path`): its embedded
// signature, else the system's catalogs (SHA-256 where Windows has the
// functions for it, Windows 8 and later; SHA-1 otherwise). The signing
// certificate's simple display name goes to `signer` for a trusted or an
// untrusted signer, an empty text otherwise. A file over 256 MiB is not
// hashed: kUnverifiable. wintrust.dll and crypt32.dll come from the system
// directory, loaded once per process.
Trust CheckSignature(HANDLE file, const wchar_t* path, wchar_t (&signer)[kSignerRoom]);
