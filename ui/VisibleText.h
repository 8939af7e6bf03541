// Texts from the registry as the list shows them: a character that draws as
// something else, or as nothing, shows as its code.
#pragma once

#include <cstddef>

// Appends `text` to the string in `out` (`room` characters in all, the
// terminator included; a text that does not fit is cut before a whole
// character or code). Shown as "<U+202E>" are the bidirectional controls and
// the other format characters (Unicode category Cf, zero-width ones among
// them), the C0 and C1 controls, and each space or dot that ends the text:
// a right-to-left override draws "\u202Eexe.chtes" as "sethc.exe", and a
// trailing space or dot makes two names look alike.
void AppendVisible(wchar_t* out, size_t room, const wchar_t* text);
