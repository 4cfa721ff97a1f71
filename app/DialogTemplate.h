// The layouts of the recorder's two dialogs as data: every control with its id, kind, caption and
// place in dialog units, in template order (which is also the tab order), and the resource numbers
// of the four faces of each bitmap button. The dialogs build themselves from these tables.
#pragma once

#include "app/DialogTexts.h"

#include <array>

namespace velmar {

// Control ids of the main dialog. The slider takes the id of the frame it covers.
enum class ControlId : int {
    None = -1,
    Play = 1000,
    Record = 1001,
    Stop = 1002,
    Open = 1003,
    Save = 1004,
    Pause = 1005,
    SliderFrame = 1009,
    About = 1010,
    TimeDisplay = 1015,
    FileName = 1016,
    PromptYes = 1,
    PromptNo = 2,
};

enum class ControlKind { BitmapButton, PushButton, BlackFrame, StaticText };
enum class TextAlign { Left, Centre, Right };

// A rectangle in dialog units: a horizontal unit is a quarter of the dialog font's average character
// width, a vertical unit an eighth of its height.
struct DialogUnitRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct TemplateControl {
    ControlId id;
    ControlKind kind;
    const char* caption;
    DialogUnitRect place;
    TextAlign align = TextAlign::Left;
    bool sunken = false;
};

// The main dialog: 213 x 100 units, 8-point dialog font.
inline constexpr DialogUnitRect kRecorderDialogSize{0, 0, 213, 100};
inline constexpr std::array kRecorderTemplate{
    TemplateControl{ControlId::Play, ControlKind::BitmapButton, texts::kPlay, {7, 79, 27, 14}},
    TemplateControl{ControlId::Record, ControlKind::BitmapButton, texts::kRecord, {49, 79, 29, 14}},
    TemplateControl{ControlId::Stop, ControlKind::BitmapButton, texts::kStop, {133, 79, 28, 14}},
    TemplateControl{ControlId::Open, ControlKind::BitmapButton, texts::kOpen, {176, 29, 30, 14}},
    TemplateControl{ControlId::Save, ControlKind::BitmapButton, texts::kSave, {175, 55, 31, 14}},
    TemplateControl{ControlId::Pause, ControlKind::BitmapButton, texts::kPause, {91, 79, 28, 14}},
    TemplateControl{ControlId::SliderFrame, ControlKind::BlackFrame, "", {7, 29, 156, 23}},
    TemplateControl{ControlId::About, ControlKind::BitmapButton, texts::kAbout, {175, 80, 31, 13}},
    TemplateControl{ControlId::TimeDisplay,
                    ControlKind::StaticText,
                    texts::kZeroTime,
                    {52, 59, 107, 10},
                    TextAlign::Right,
                    true},
    TemplateControl{ControlId::FileName,
                    ControlKind::StaticText,
                    texts::kTemplateFileName,
                    {41, 7, 165, 11},
                    TextAlign::Left,
                    true},
    TemplateControl{ControlId::None, ControlKind::StaticText, texts::kFileNameLabel, {7, 7, 33, 11}},
    TemplateControl{ControlId::None, ControlKind::StaticText, texts::kTimeLabel, {34, 59, 18, 10}},
};

// The input level while recording: a slim strip below every control of the template (below the
// faces of the buttons too, which are taller than their places); the dialog grows to hold it and
// nothing else moves.
inline constexpr DialogUnitRect kLevelStrip{7, 99, 199, 7};
inline constexpr DialogUnitRect kRecorderDialogWithStripSize{0, 0, kRecorderDialogSize.width,
                                                             kLevelStrip.y + kLevelStrip.height + 3};

// The keys of the buttons (in QKeySequence's portable form) besides the mouse and Space: none takes
// Enter, Escape or Space, which keep their meaning for the dialog and the focused button. The media
// keys of a keyboard that has them act too.
struct ButtonShortcut {
    ControlId id;
    const char* key;
    const char* mediaKey; // nullptr when there is none
};
inline constexpr std::array kButtonShortcuts{
    ButtonShortcut{ControlId::Play, "Ctrl+P", "Media Play"},
    ButtonShortcut{ControlId::Record, "Ctrl+R", "Media Record"},
    ButtonShortcut{ControlId::Pause, "Ctrl+Shift+P", "Media Pause"},
    ButtonShortcut{ControlId::Stop, "Ctrl+T", "Media Stop"},
    ButtonShortcut{ControlId::Open, "Ctrl+O", nullptr},
    ButtonShortcut{ControlId::Save, "Ctrl+S", nullptr},
    ButtonShortcut{ControlId::About, "F1", nullptr},
};

// The save prompt: 187 x 95 units.
inline constexpr DialogUnitRect kPromptDialogSize{0, 0, 187, 95};
inline constexpr std::array kPromptTemplate{
    TemplateControl{ControlId::PromptYes, ControlKind::PushButton, texts::kYes, {51, 59, 33, 14}},
    TemplateControl{ControlId::PromptNo, ControlKind::PushButton, texts::kNo, {111, 59, 34, 14}},
    TemplateControl{
        ControlId::None, ControlKind::StaticText, texts::kPromptText, {25, 27, 142, 20}, TextAlign::Centre},
};

// Point size of the dialogs' font.
inline constexpr int kDialogFontPoints = 8;
inline constexpr const char* kDialogFontFamily = "MS Sans Serif";

// Every face of a bitmap button is this size in pixels; the button takes the size of its face.
inline constexpr int kButtonFaceWidth = 61;
inline constexpr int kButtonFaceHeight = 30;

// Resource numbers of a bitmap button's faces.
struct ButtonFaces {
    ControlId id;
    int normal;
    int selected;
    int focused;
    int disabled;
};

inline constexpr std::array kButtonFaces{
    ButtonFaces{ControlId::Play, 129, 130, 131, 135},  ButtonFaces{ControlId::Record, 137, 138, 136, 139},
    ButtonFaces{ControlId::Pause, 141, 140, 142, 143}, ButtonFaces{ControlId::Stop, 144, 146, 145, 147},
    ButtonFaces{ControlId::Open, 149, 148, 150, 151},  ButtonFaces{ControlId::Save, 152, 155, 153, 154},
    ButtonFaces{ControlId::About, 158, 156, 157, 159},
};

// Resource number of the application icon (drawn at several sizes).
inline constexpr int kIconResource = 128;

} // namespace velmar
