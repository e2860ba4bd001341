// The host's user-interface service (ZrTools slot 19) and the form model it renders.
//
// A plug-in describes a modal window as an IZrForm: a title, a width and a list of controls in
// order. The host's service renders the form (in a terminal, or with whatever toolkit the host
// has), reports each change back through the form's setters, redraws after every change so that
// the form can enable and disable controls, and returns when the user presses OK or Cancel.
// Without a way to show anything (no terminal) a form closes as Cancel at once.
#pragma once

#include "tessary/SysString.h"

#include <cstdint>

enum class ZrControlKind : int32_t {
    Heading = 0,     // a section title
    Label = 1,       // a line of text
    HelpText = 2,    // a paragraph of explanation, wrapped to the width
    CheckBox = 3,    // on/off
    RadioButton = 4, // one of a group (Group()); checking one clears the others
    DropDown = 5,    // one of a list of items
    Edit = 6,        // a line of text
    FileChooser = 7, // a line of text holding a file path
};

// What a renderer reads and changes. Indices run from 0 to ControlCount() - 1. Texts returned
// belong to the form and stay valid until the next call that changes the form.
class IZrForm {
public:
    virtual const char16_t* Title() = 0;
    // Width in the host's pixels (already scaled); a terminal renders 1 column per 8 pixels.
    virtual int32_t Width() = 0;
    virtual int32_t ControlCount() = 0;
    virtual ZrControlKind Kind(int32_t control) = 0;
    virtual const char16_t* Text(int32_t control) = 0;
    virtual bool Enabled(int32_t control) = 0;
    virtual int32_t Group(int32_t control) = 0;
    virtual bool Checked(int32_t control) = 0;
    virtual int32_t ItemCount(int32_t control) = 0;
    virtual const char16_t* ItemText(int32_t control, int32_t item) = 0;
    virtual int32_t Selected(int32_t control) = 0; // -1 when nothing is selected
    virtual const char16_t* EditText(int32_t control) = 0;
    // The captions of the two buttons, translated ("OK", "Cancel").
    virtual const char16_t* OkText() = 0;
    virtual const char16_t* CancelText() = 0;

    // Changes made by the user; the form updates dependent controls before returning.
    virtual void SetChecked(int32_t control, bool checked) = 0;
    virtual void SetSelected(int32_t control, int32_t item) = 0;
    virtual void SetEditText(int32_t control, const char16_t* text) = 0;
    // The buttons. The form may refuse OK (for example an invalid entry): then OK returns false
    // and the renderer keeps the window open.
    virtual bool OnOkPressed() = 0;
    virtual void OnCancelPressed() = 0;

protected:
    ~IZrForm() = default;
};

// Scaling of logical lengths to the host's pixels.
class IZrUIMetrics {
public:
    virtual void Reserved0() {}
    virtual void Reserved1() {}
    virtual void Reserved2() {}
    virtual void Reserved3() {}
    virtual void Reserved4() {}
    virtual void Reserved5() {}
    virtual void Reserved6() {}
    virtual int32_t Scale(int32_t length, int32_t flag) = 0; // slot 7

protected:
    ~IZrUIMetrics() = default;
};

enum : int32_t {
    ZrModalOk = 1,
    ZrModalCancel = 2,
};

enum : int32_t {
    ZrMessageOk = 0,       // one button: OK
    ZrMessageOkCancel = 1, // OK and Cancel; the result says which
    ZrMessageYesNo = 4,    // Yes (ZrModalOk) and No (ZrModalCancel)
};

class IZrUIService {
public:
    // The window that owns a modal window for `handle` (null: the host's main window, or null
    // when the host has none).
    virtual void* FindWindow(void* handle) = 0; // slot 0
    // Runs the form modally; ZrModalOk or ZrModalCancel.
    virtual int32_t RunModal(IZrForm* form, void* owner) = 0; // slot 1
    // A message box; ZrModalOk or ZrModalCancel (Cancel also when it cannot be shown).
    virtual int32_t MessageBox(const char16_t* title, const char16_t* text, int32_t buttons) = 0;
    virtual void Reserved3() {}                         // slot 3
    virtual IZrUIMetrics* GetMetrics(int32_t flag) = 0; // slot 4

protected:
    ~IZrUIService() = default;
};
