// A form drawn as a bordered dialog in a terminal and driven by keys.
//
// The dialog itself knows nothing of the terminal: it turns keys into changes of the form and
// draws itself into lines of text with ANSI attributes. ZrTerminalRenderer connects it to a real
// terminal; tests feed it keys directly.
#pragma once

#include "tessary/ZrUIService.h"

#include <cstdint>
#include <string>
#include <vector>

enum class ZrKey {
    None,
    Up,
    Down,
    Left,
    Right,
    Tab,
    BackTab,
    Enter,
    Space,
    Escape,
    Backspace,
    Delete,
    Home,
    End,
    Interrupt, // Ctrl-C
    Text,      // a printable character, in ZrKeyEvent::Text
};

struct ZrKeyEvent {
    ZrKey Key = ZrKey::None;
    std::string Text; // UTF-8 of one character, for ZrKey::Text
};

// Splits terminal input into key events; keeps incomplete sequences for the next call.
class ZrKeyDecoder {
public:
    void Feed(const char* data, size_t size);
    // Next complete event; with `flush` a lone Escape byte counts as the Escape key.
    bool Next(ZrKeyEvent& event, bool flush);

private:
    std::string m_pending;
};

class ZrTerminalDialog {
public:
    enum class Outcome { Open, Ok, Cancel };

    ZrTerminalDialog(IZrForm& form, int32_t terminalColumns);

    // Applies one key. Returns the outcome after it.
    Outcome Handle(const ZrKeyEvent& event);
    Outcome State() const { return m_outcome; }

    // The dialog as lines (UTF-8 with ANSI attributes when `attributes`).
    std::vector<std::string> Render(bool attributes = true) const;
    // The same, plain, for tests and logs.
    std::string RenderPlain() const;

    int32_t Columns() const { return m_columns; }

private:
    // Focus stops: control indices, then the two buttons.
    static constexpr int32_t OkStop = -2;
    static constexpr int32_t CancelStop = -3;

    bool Focusable(int32_t control) const;
    std::vector<int32_t> Stops() const;
    void MoveFocus(int direction);
    void Activate();
    void ChangeSelection(int32_t control, int direction);
    void ApplyMenuKey(const ZrKeyEvent& event);
    void EditKey(const ZrKeyEvent& event);
    void EnsureFocusValid();

    IZrForm& m_form;
    int32_t m_columns;
    int32_t m_focus = 0;
    bool m_menuOpen = false;
    int32_t m_menuItem = 0;
    Outcome m_outcome = Outcome::Open;
};

// A message box in the same style: title, text, and one or two buttons.
class ZrTerminalMessage {
public:
    ZrTerminalMessage(std::string title, std::string text, int32_t buttons, int32_t columns);
    ZrTerminalDialog::Outcome Handle(const ZrKeyEvent& event);
    std::vector<std::string> Render(bool attributes = true) const;

private:
    std::string m_title;
    std::string m_text;
    int32_t m_buttons;
    int32_t m_columns;
    int m_focus = 0; // 0 first button, 1 second
    ZrTerminalDialog::Outcome m_outcome = ZrTerminalDialog::Outcome::Open;
};
