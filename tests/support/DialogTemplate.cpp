#include "DialogTemplate.h"

#include <gtest/gtest.h>

namespace testing_support {

namespace {
class Reader {
public:
    explicit Reader(const BYTE* data) : m_start(data), m_at(data) {}
    WORD Word() { WORD w = *reinterpret_cast<const WORD*>(m_at); m_at += 2; return w; }
    DWORD Dword() { DWORD d = *reinterpret_cast<const DWORD*>(m_at); m_at += 4; return d; }
    short Short() { return static_cast<short>(Word()); }
    void AlignDword() { while ((m_at - m_start) % 4) ++m_at; }
    void Skip(size_t n) { m_at += n; }

    // A string, or an ordinal (0xFFFF then a number) which comes back as "#n".
    std::string SzOrOrd()
    {
        if (*reinterpret_cast<const WORD*>(m_at) == 0xFFFF) {
            m_at += 2;
            return "#" + std::to_string(Word());
        }
        std::wstring wide;
        while (WORD c = Word())
            wide += static_cast<wchar_t>(c);
        char text[512] = "";
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, text, sizeof(text), nullptr, nullptr);
        return text;
    }

private:
    const BYTE* m_start;
    const BYTE* m_at;
};

std::string ClassName(const std::string& ordinalOrName)
{
    static const char* const names[] = { "Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox" };
    if (ordinalOrName.size() > 1 && ordinalOrName[0] == '#') {
        int atom = std::stoi(ordinalOrName.substr(1));
        if (atom >= 0x80 && atom <= 0x85)
            return names[atom - 0x80];
    }
    return ordinalOrName;
}
}  // namespace

bool LoadDialogTemplate(int id, DialogTemplate* result)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), reinterpret_cast<LPCSTR>(RT_DIALOG));
    if (resource == nullptr)
        return false;
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
    Reader reader(data);
    if (reader.Word() != 1 || reader.Word() != 0xFFFF)
        return false;
    reader.Dword();  // help ID
    reader.Dword();  // extended style
    result->style = reader.Dword();
    WORD count = reader.Word();
    reader.Short();
    reader.Short();
    result->cx = reader.Short();
    result->cy = reader.Short();
    reader.SzOrOrd();  // menu
    reader.SzOrOrd();  // window class
    result->caption = reader.SzOrOrd();
    if (result->style & DS_SETFONT) {
        result->pointSize = reader.Word();
        reader.Word();  // weight
        reader.Skip(2);  // italic, character set
        result->font = reader.SzOrOrd();
    }
    for (WORD i = 0; i < count; ++i) {
        reader.AlignDword();
        TemplateControl control;
        reader.Dword();  // help ID
        reader.Dword();  // extended style
        control.style = reader.Dword();
        control.x = reader.Short();
        control.y = reader.Short();
        control.cx = reader.Short();
        control.cy = reader.Short();
        control.id = static_cast<int>(reader.Dword());
        control.windowClass = ClassName(reader.SzOrOrd());
        control.text = reader.SzOrOrd();
        WORD extra = reader.Word();
        reader.Skip(extra);
        result->controls.push_back(control);
    }
    return true;
}

void ExpectControls(const DialogTemplate& t, const std::vector<ExpectedControl>& expected)
{
    ASSERT_EQ(expected.size(), t.controls.size());
    for (size_t i = 0; i < t.controls.size(); ++i) {
        const TemplateControl& c = t.controls[i];
        const ExpectedControl& e = expected[i];
        SCOPED_TRACE(e.text);
        EXPECT_EQ(e.id, c.id);
        EXPECT_EQ(0, lstrcmpiA(e.windowClass, c.windowClass.c_str())) << c.windowClass;
        EXPECT_EQ(e.text, c.text);
        EXPECT_EQ(e.x, c.x);
        EXPECT_EQ(e.y, c.y);
        EXPECT_EQ(e.cx, c.cx);
        EXPECT_EQ(e.cy, c.cy);
        EXPECT_EQ(WS_CHILD | e.style, c.style);
    }
}

}  // namespace testing_support
