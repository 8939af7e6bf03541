// Registry keys that are symbolic links to other keys, and the keys a
// removal leaves empty.
#pragma once

#include <windows.h>

#include <cstddef>

// Room for a key's path below its root.
const size_t kKeyPathRoom = 1024;

// Whether `key`, opened as the subkey `name` of `parent`, is that subkey
// itself: false when the subkey is a link, and `key` the key it leads to.
bool IsSubkeyItself(HKEY parent, HKEY key, const wchar_t* name);

enum LinkState { kNoLink, kLink, kCannotTell };

// Whether the subkey `name` of `parent` (in the view) is a link to another
// key, known from the subkey itself (opened as a link, its
// SymbolicLinkValue), whatever the key it leads to allows: Windows follows
// a link, so the link is what a clear removes, never a setting of the key
// it leads to. kCannotTell when the subkey refuses to be looked at; a
// subkey that is not there is no link.
LinkState KeyLinkState(HKEY parent, const wchar_t* name, REGSAM view);

// The first key on the way from the first `baseLength` characters of
// `path` (a key of `root`, which is Windows' own) to the whole of it that
// is a link to another key, or that cannot be told from one. For those,
// `path` is cut after that key.
LinkState FindLinkOnTheWay(HKEY root, wchar_t (&path)[kKeyPathRoom], size_t baseLength, REGSAM view);

// Deletes the subkey `name` of `parent` when it is a link, and only then:
// the link goes, the key it leads to stays. 1 when it went.
int DeleteKeyLink(HKEY parent, const wchar_t* name, REGSAM view);
// The same for the key `path` of `root`.
int DeleteKeyLinkAt(HKEY root, const wchar_t* path, REGSAM view);

// Deletes the keys of `path` below its first `baseLength` characters that
// hold no value and no subkey, from the deepest up to the first that holds
// something; never a link, whose key is another's.
void DeleteEmptyKeys(HKEY root, wchar_t (&path)[kKeyPathRoom], size_t baseLength, REGSAM view);
