#include "VisibleText.h"

#include <windows.h>

#include <cwchar>

namespace {
struct Range {
    unsigned long first;
    unsigned long last;
};

bool InRanges(unsigned long c, const Range* ranges, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (c >= ranges[i].first && c <= ranges[i].last)
            return true;
    }
    return false;
}

// What draws as nothing, or as something else: the C0 and C1 controls,
// the format characters (Cf) and the default-ignorable code points of
// Unicode 15, which hold every bidirectional control, the Hangul fillers
// and the variation selectors.
const Range kHidden[] = {
    { 0x0000, 0x001F },   { 0x007F, 0x009F },   { 0x00AD, 0x00AD },   { 0x034F, 0x034F },   { 0x0600, 0x0605 },
    { 0x061C, 0x061C },   { 0x06DD, 0x06DD },   { 0x070F, 0x070F },   { 0x0890, 0x0891 },   { 0x08E2, 0x08E2 },
    { 0x115F, 0x1160 },   { 0x17B4, 0x17B5 },   { 0x180B, 0x180F },   { 0x200B, 0x200F },   { 0x202A, 0x202E },
    { 0x2060, 0x206F },   { 0x3164, 0x3164 },   { 0xFE00, 0xFE0F },   { 0xFEFF, 0xFEFF },   { 0xFFA0, 0xFFA0 },
    { 0xFFF0, 0xFFFB },   { 0x110BD, 0x110BD }, { 0x110CD, 0x110CD }, { 0x13430, 0x1343F }, { 0x1BCA0, 0x1BCA3 },
    { 0x1D173, 0x1D17A }, { 0xE0000, 0xE0FFF },
};

// The spaces other than U+0020, which look like it, or like nothing.
const Range kOtherSpaces[] = { { 0x00A0, 0x00A0 }, { 0x1680, 0x1680 }, { 0x2000, 0x200A },
                               { 0x202F, 0x202F }, { 0x205F, 0x205F }, { 0x3000, 0x3000 } };

// White space: the spaces, and the tabs and line ends among the controls.
const Range kWhite[] = { { 0x0009, 0x000D }, { 0x0020, 0x0020 }, { 0x0085, 0x0085 }, { 0x00A0, 0x00A0 },
                         { 0x1680, 0x1680 }, { 0x2000, 0x200A }, { 0x2028, 0x2029 }, { 0x202F, 0x202F },
                         { 0x205F, 0x205F }, { 0x3000, 0x3000 } };

// The letters of the Latin script, and of the scripts that Unicode's
// "highly restrictive" level lets Latin mix with: Han, Hiragana,
// Katakana, Hangul and Bopomofo.
const Range kLatin[] = { { 0x0041, 0x005A }, { 0x0061, 0x007A }, { 0x00AA, 0x00AA }, { 0x00BA, 0x00BA },
                         { 0x00C0, 0x00D6 }, { 0x00D8, 0x00F6 }, { 0x00F8, 0x02AF }, { 0x1D00, 0x1D25 },
                         { 0x1D2C, 0x1D5C }, { 0x1D62, 0x1D65 }, { 0x1D6B, 0x1D77 }, { 0x1D79, 0x1DBE },
                         { 0x1E00, 0x1EFF }, { 0x2071, 0x2071 }, { 0x207F, 0x207F }, { 0x2090, 0x209C },
                         { 0x2C60, 0x2C7F }, { 0xA722, 0xA7FF }, { 0xAB30, 0xAB5A }, { 0xAB5C, 0xAB64 },
                         { 0xFB00, 0xFB06 }, { 0xFF21, 0xFF3A }, { 0xFF41, 0xFF5A } };
const Range kEastAsian[] = { { 0x1100, 0x11FF }, { 0x2E80, 0x2FDF }, { 0x3005, 0x3007 }, { 0x3021, 0x3029 },
                             { 0x3031, 0x3035 }, { 0x3038, 0x303C }, { 0x3041, 0x30FF }, { 0x3105, 0x312F },
                             { 0x3131, 0x318E }, { 0x31A0, 0x31BF }, { 0x31F0, 0x31FF }, { 0x3400, 0x4DBF },
                             { 0x4E00, 0x9FFF }, { 0xA960, 0xA97F }, { 0xAC00, 0xD7FF }, { 0xF900, 0xFAFF },
                             { 0xFF66, 0xFF9F }, { 0xFFA1, 0xFFDC }, { 0x20000, 0x3FFFF } };

template <size_t N> bool In(unsigned long c, const Range (&ranges)[N]) { return InRanges(c, ranges, N); }

enum Script { kNoLetter, kLatinLetter, kEastAsianLetter, kOtherLetter };

Script ScriptOf(unsigned long c)
{
    if (In(c, kLatin))
        return kLatinLetter;
    if (In(c, kEastAsian))
        return kEastAsianLetter;
    WORD type = 0;
    wchar_t unit = static_cast<wchar_t>(c);
    return c > 0x7F && c <= 0xFFFF && ::GetStringTypeW(CT_CTYPE1, &unit, 1, &type) && (type & C1_ALPHA)
               ? kOtherLetter
               : kNoLetter;
}

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A text as the list shows it, one piece at a time: a character as it is,
// or a code for it.
class VisibleTokens {
public:
    // Longest piece: a code for a run of white space.
    static const size_t kRoom = 24;

    explicit VisibleTokens(const wchar_t* text) : m_text(text), m_length(std::wcslen(text))
    {
        while (m_leading < m_length && In(m_text[m_leading], kOtherSpaces))
            ++m_leading;
        m_trailing = m_length;
        while (m_trailing > m_leading && (m_text[m_trailing - 1] == L' ' || m_text[m_trailing - 1] == L'.' ||
                                          In(m_text[m_trailing - 1], kOtherSpaces)))
            --m_trailing;
    }

    // The next piece into `shown` (`*length` units, for `*characters` of
    // the text's characters); false at the end.
    bool Next(wchar_t (&shown)[kRoom], size_t* length, size_t* characters)
    {
        if (m_at >= m_length)
            return false;
        size_t units = 1;
        unsigned long c = m_text[m_at];
        bool lone = false;
        if (IsHighSurrogate(m_text[m_at]) && m_at + 1 < m_length && IsLowSurrogate(m_text[m_at + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (m_text[m_at + 1] - 0xDC00);
            units = 2;
        } else {
            lone = IsHighSurrogate(m_text[m_at]) || IsLowSurrogate(m_text[m_at]);
        }
        size_t run = 0;
        while (m_at + run < m_length && In(m_text[m_at + run], kWhite))
            ++run;
        if (run > 3) {
            *length = static_cast<size_t>(::wsprintfW(shown, L"<空白×%lu>", static_cast<unsigned long>(run)));
            *characters = run;
            m_at += run;
            return true;
        }
        if (lone || In(c, kHidden) || m_at < m_leading || m_at >= m_trailing || LooksAlike(c)) {
            *length = static_cast<size_t>(::wsprintfW(shown, L"<U+%04lX>", c));
        } else {
            std::wmemcpy(shown, m_text + m_at, units);
            *length = units;
        }
        *characters = 1;
        m_at += units;
        return true;
    }

private:
    // Whether the letter at the current place is of another script than
    // the Latin letters of its word (a run of letters, with the digits and
    // underscores among them).
    bool LooksAlike(unsigned long c)
    {
        const Script script = ScriptOf(c);
        if (script == kNoLetter)
            return false;
        if (m_at >= m_wordEnd) {
            bool latin = false;
            bool other = false;
            for (m_wordEnd = m_at; m_wordEnd < m_length; ++m_wordEnd) {
                const Script in = ScriptOf(m_text[m_wordEnd]);
                const wchar_t joining = m_text[m_wordEnd];
                if (in == kNoLetter && !((joining >= L'0' && joining <= L'9') || joining == L'_'))
                    break;
                latin = latin || in == kLatinLetter;
                other = other || in == kOtherLetter;
            }
            m_mixed = latin && other;
        }
        return m_mixed && script == kOtherLetter;
    }

    const wchar_t* m_text;
    size_t m_length;
    size_t m_at = 0;
    size_t m_leading = 0;   // the spaces other than U+0020 that start the text end here
    size_t m_trailing = 0;  // the spaces and dots that end the text start here
    size_t m_wordEnd = 0;
    bool m_mixed = false;
};

// The code that stands for what a text too long for the list leaves out.
const wchar_t kLeftOut[] = L"<省略%lu个字符>";
const size_t kLeftOutRoom = 24;
}  // namespace

void AppendVisible(wchar_t* out, size_t room, const wchar_t* text)
{
    size_t used = std::wcslen(out);
    wchar_t shown[VisibleTokens::kRoom];
    size_t length = 0;
    size_t characters = 0;
    size_t total = 0;
    for (VisibleTokens pieces(text); pieces.Next(shown, &length, &characters);)
        total += length;
    // A text that does not fit shows its start and its end, and between
    // them how many characters it leaves out.
    const size_t free = room > used ? room - used - 1 : 0;
    const bool whole = total <= free;
    const size_t head = whole ? total : free > kLeftOutRoom ? (free - kLeftOutRoom) / 2 : free;
    const size_t tailFrom = whole || free <= kLeftOutRoom ? total : total - (free - kLeftOutRoom - head);
    size_t at = 0;
    size_t leftOut = 0;
    bool cut = false;
    for (VisibleTokens pieces(text); pieces.Next(shown, &length, &characters); at += length) {
        if (!cut && at + length <= head) {
            std::wmemcpy(out + used, shown, length);
            used += length;
            continue;
        }
        cut = true;
        if (at < tailFrom) {
            leftOut += characters;
            continue;
        }
        if (leftOut != 0) {
            used += static_cast<size_t>(::wsprintfW(out + used, kLeftOut, static_cast<unsigned long>(leftOut)));
            leftOut = 0;
        }
        std::wmemcpy(out + used, shown, length);
        used += length;
    }
    out[used] = L'\0';
}

wchar_t* VisibleCopy(const wchar_t* text)
{
    size_t total = 0;
    wchar_t shown[VisibleTokens::kRoom];
    size_t length = 0;
    size_t characters = 0;
    for (VisibleTokens pieces(text); pieces.Next(shown, &length, &characters);)
        total += length;
    wchar_t* copy = static_cast<wchar_t*>(::LocalAlloc(LPTR, (total + 1) * sizeof(wchar_t)));
    if (copy != nullptr)
        AppendVisible(copy, total + 1, text);
    return copy;
}
