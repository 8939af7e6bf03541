// Texts from the registry as the list shows them: a character that draws as
// something else, or as nothing, shows as its code, and a text too long for
// the list its start and its end.
#pragma once

#include <cstddef>

// Appends `text` to the string in `out` (`room` characters in all, the
// terminator included). Shown as a code ("<U+202E>") are:
// - the controls, the format characters and every other code point that
//   Unicode makes default-ignorable: a right-to-left override draws
//   "\u202Eexe.chtes" as "sethc.exe", and a zero-width space draws nothing;
// - a space or dot that ends the text, and a space other than U+0020 that
//   starts or ends it, which make two names look alike;
// - a letter of another script inside a word of Latin letters, which
//   Unicode's "highly restrictive" level forbids: "vsjitd\u0435bugger" holds
//   a Cyrillic е (Latin may mix with Han, Kana, Hangul and Bopomofo, so
//   Chinese names show as they are).
// A run of more than three white-space characters shows as one code that
// gives its length ("<空白×300>"), so that nothing hides behind it. A text
// that still does not fit shows its start and its end, with the count of
// the characters left out between them ("<省略120个字符>").
void AppendVisible(wchar_t* out, size_t room, const wchar_t* text);

// The same text with the same codes, never shortened: a block from
// LocalAlloc, or null when there is no room for it.
wchar_t* VisibleCopy(const wchar_t* text);
