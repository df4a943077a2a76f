// The source's two resource sets as the user must see them: every string in English and
// Japanese, and every dialog's controls with their texts and positions in both sets.
#pragma once

#include <windows.h>

#include <vector>

struct ExpectedString {
    UINT id;
    const wchar_t* english;
    const wchar_t* japanese;
};

// What kind of control a template item is: window class plus the style bits that matter.
enum class ControlKind { LeftLabel, RightLabel, CentreLabel, Bitmap, Button, DefaultButton, CheckBox, Divider,
                         NumberEdit, DropList, Spin, Progress };

// A position in dialog units; `unplaced` where the dialog lays the control out itself.
struct Place {
    int x, y, cx, cy;
};
constexpr Place unplaced = {-1, -1, -1, -1};

struct ExpectedControl {
    int id;  // -1 for a label without an id
    ControlKind kind;
    const wchar_t* english;
    const wchar_t* japanese;
    Place englishPlace;
    Place japanesePlace;
};

struct ExpectedDialog {
    int id;
    const wchar_t* englishCaption;
    const wchar_t* japaneseCaption;
    int englishWidth, japaneseWidth, height;  // -1: laid out by the code
    int pointSize;  // 0: whatever the English set uses
    bool hasCaption, hasSystemMenu, hasContextHelp;
    std::vector<ExpectedControl> controls;
};

const std::vector<ExpectedString>& expectedStrings();
const std::vector<ExpectedDialog>& expectedDialogs();

extern const wchar_t* const englishDialogFace;
extern const wchar_t* const japaneseDialogFace;
