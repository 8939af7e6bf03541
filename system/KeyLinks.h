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
// key: Windows follows it, so the link is what a clear removes, never a
// setting of the key it leads to. It is one when, opened as a link, it
// holds a REG_LINK SymbolicLinkValue, and opened as a key it is another
// key or none: this needs no right to the key it leads to, and a value of
// that name in a plain key makes no link. A subkey that refuses to show
// its values is told by its path alone, opened as a link and as a key with
// whatever rights it grants. kCannotTell when it grants none, or its path
// cannot be read; a subkey that is not there is no link.
LinkState KeyLinkState(HKEY parent, const wchar_t* name, REGSAM view);

// The first key on the way to `path` (a key of `root`) that is a link to
// another key, or that cannot be told from one; for those, `path` is cut
// after that key. The first `trusted` characters name Windows' own key, as
// it is (HKCU's classes are a link of Windows' own, to the user's classes
// hive): every key below it is looked at. Where the user's classes lead
// anywhere else, nothing below them can be told.
LinkState FindLinkOnTheWay(HKEY root, wchar_t (&path)[kKeyPathRoom], size_t trusted, REGSAM view);

// Where a key's path below its root stops being Windows' own: after its
// first two keys ("SOFTWARE\Microsoft", "Software\Classes").
size_t TrustedLength(const wchar_t* path);

// Whether the user's classes (an open HKCU\Software\Classes) are where
// Windows keeps them: the user's own key, or the user's classes hive
// (\REGISTRY\USER\<SID>_Classes). kMachine: the machine's classes.
enum ClassesPlace { kUsersOwn, kMachines, kElsewhere };
ClassesPlace UserClassesPlace(HKEY classes);

// Deletes the subkey `name` of `parent` when it is a link, and only then:
// the link goes, the key it leads to stays. 1 when it went.
int DeleteKeyLink(HKEY parent, const wchar_t* name, REGSAM view);
// The same for the key `path` of `root`.
int DeleteKeyLinkAt(HKEY root, const wchar_t* path, REGSAM view);

// Deletes the keys of `path` below its first `baseLength` characters that
// hold no value and no subkey, from the deepest up to the first that holds
// something; never a link, whose key is another's.
void DeleteEmptyKeys(HKEY root, wchar_t (&path)[kKeyPathRoom], size_t baseLength, REGSAM view);
