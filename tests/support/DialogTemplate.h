// Reads a DIALOGEX template from the executable's resources.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

struct TemplateControl {
    int id;
    std::string windowClass;  // "Button", "Static", ... for the predefined classes
    std::string text;
    short x, y, cx, cy;
    DWORD style;
};

struct DialogTemplate {
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::string caption;
    WORD pointSize = 0;
    std::string font;
    std::vector<TemplateControl> controls;
};

// False when the resource is missing or is not an extended template.
bool LoadDialogTemplate(int id, DialogTemplate* result);

// What a control of a template should be; WS_CHILD is taken for granted.
struct ExpectedControl {
    int id;
    const char* windowClass;  // compared without regard to case
    const char* text;
    short x, y, cx, cy;
    DWORD style;
};

// Expects the template's controls to be exactly these, in this order.
void ExpectControls(const DialogTemplate& t, const std::vector<ExpectedControl>& expected);

}  // namespace testing_support
