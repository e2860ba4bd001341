#include "ui/ZrTerminalDialog.h"

#include "foundation/ZrTextWidth.h"
#include "foundation/ZrUtf.h"

#include <algorithm>

namespace {

// A field's label and its colon; labels that bring their own colon ("Quality:") keep just that.
std::string FieldPrefix(const std::string& label) {
    if (label.empty())
        return "";
    return label.back() == ':' ? label + " " : label + ": ";
}

constexpr const char* Bold = "\x1b[1m";
constexpr const char* Dim = "\x1b[2m";
constexpr const char* Reverse = "\x1b[7m";
constexpr const char* Reset = "\x1b[0m";

std::string Utf8(const char16_t* text) {
    return text ? ZrUtf16ToUtf8(std::u16string_view(text)) : std::string();
}

size_t Width(const std::string& s) {
    return ZrTextColumns(s);
}

// The start of a UTF-8 text that fits in `columns`.
std::string Take(const std::string& s, size_t columns) {
    return s.substr(0, ZrTextPrefixBytes(s, columns));
}

// The end that fits in `columns`.
std::string Tail(const std::string& s, size_t columns) {
    return s.substr(ZrTextSuffixStart(s, columns));
}

std::string Pad(const std::string& s, size_t columns) {
    const std::string cut = Take(s, columns);
    return cut + std::string(columns - Width(cut), ' ');
}

// Breaks a text at spaces into lines of at most `columns`; runs of spaces inside a line are
// kept (texts use two spaces after a full stop), those at a break are dropped.
std::vector<std::string> Wrap(const std::string& original, size_t columns) {
    // Windows line ends in texts count as one line end.
    std::string text;
    for (char c : original)
        if (c != '\r')
            text += c;
    std::vector<std::string> lines;
    std::string line;
    size_t i = 0;
    while (i <= text.size()) {
        if (i == text.size() || text[i] == '\n') {
            lines.push_back(line);
            line.clear();
            ++i;
            if (i > text.size())
                break;
            continue;
        }
        size_t gapEnd = i;
        while (gapEnd < text.size() && text[gapEnd] == ' ')
            ++gapEnd;
        size_t wordEnd = gapEnd;
        while (wordEnd < text.size() && text[wordEnd] != ' ' && text[wordEnd] != '\n')
            ++wordEnd;
        const std::string gap = text.substr(i, gapEnd - i);
        std::string word = text.substr(gapEnd, wordEnd - gapEnd);
        i = wordEnd;
        if (!line.empty() && Width(line) + Width(gap) + Width(word) > columns) {
            lines.push_back(line);
            line.clear();
        }
        if (!line.empty())
            line += gap;
        while (Width(word) > columns) {
            std::string head = Take(word, columns);
            if (head.empty()) // a wide character in a one-column line
                head = Take(word, 2);
            lines.push_back(head);
            word.erase(0, head.size());
        }
        line += word;
    }
    if (!lines.empty() && lines.back().empty() && lines.size() > 1)
        lines.pop_back();
    return lines;
}

std::string Repeat(const char* s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

// Frame pieces shared by the dialog and the message box.
struct Frame {
    size_t Columns; // total width including borders
    size_t Text() const { return Columns - 4; }
    bool Attributes;

    std::string Top(const std::string& title) const {
        const std::string t = " " + Take(title, Columns - 6) + " ";
        const std::string head = "\u250C\u2500" + (Attributes ? Bold + t + Reset : t);
        return head + Repeat("\u2500", Columns - 3 - Width(t)) + "\u2510";
    }
    std::string Bottom() const { return "\u2514" + Repeat("\u2500", Columns - 2) + "\u2518"; }
    std::string Line(const std::string& content, bool focused = false,
                     const char* attribute = nullptr) const {
        std::string body = Pad(content, Text());
        if (Attributes && attribute)
            body = attribute + body + Reset;
        return std::string("\u2502") + (focused ? ">" : " ") + " " + body + "\u2502";
    }
    std::string Buttons(const std::vector<std::string>& captions, int focus) const {
        std::string row;
        size_t width = 0;
        for (size_t i = 0; i < captions.size(); ++i) {
            const bool f = static_cast<int>(i) == focus;
            const std::string b = f ? "[>" + captions[i] + "<]" : "[ " + captions[i] + " ]";
            if (!row.empty()) {
                row += "  ";
                width += 2;
            }
            row += (Attributes && f) ? std::string(Reverse) + b + Reset : b;
            width += Width(b);
        }
        const size_t inner = Columns - 2;
        const size_t left = inner > width ? (inner - width) / 2 : 0;
        const size_t right = inner > width + left ? inner - width - left : 0;
        return "\u2502" + std::string(left, ' ') + row + std::string(right, ' ') + "\u2502";
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Keys

void ZrKeyDecoder::Feed(const char* data, size_t size) {
    m_pending.append(data, size);
}

bool ZrKeyDecoder::Next(ZrKeyEvent& event, bool flush) {
    event = ZrKeyEvent{};
    while (!m_pending.empty()) {
        const unsigned char c = static_cast<unsigned char>(m_pending[0]);
        if (c == 0x1b) {
            if (m_pending.size() == 1) {
                if (!flush)
                    return false;
                m_pending.clear();
                event.Key = ZrKey::Escape;
                return true;
            }
            if (m_pending[1] != '[' && m_pending[1] != 'O') {
                m_pending.erase(0, 1);
                event.Key = ZrKey::Escape;
                return true;
            }
            // CSI or SS3: parameters, then a final byte in 0x40..0x7E.
            size_t end = 2;
            while (end < m_pending.size() && !(m_pending[end] >= 0x40 && m_pending[end] <= 0x7E))
                ++end;
            if (end >= m_pending.size()) {
                if (!flush)
                    return false;
                m_pending.clear();
                event.Key = ZrKey::Escape;
                return true;
            }
            const std::string seq = m_pending.substr(1, end);
            m_pending.erase(0, end + 1);
            const char final = seq.back();
            if (final == 'A')
                event.Key = ZrKey::Up;
            else if (final == 'B')
                event.Key = ZrKey::Down;
            else if (final == 'C')
                event.Key = ZrKey::Right;
            else if (final == 'D')
                event.Key = ZrKey::Left;
            else if (final == 'Z')
                event.Key = ZrKey::BackTab;
            else if (final == 'H' || seq == "[1~" || seq == "[7~")
                event.Key = ZrKey::Home;
            else if (final == 'F' || seq == "[4~" || seq == "[8~")
                event.Key = ZrKey::End;
            else if (seq == "[3~")
                event.Key = ZrKey::Delete;
            else
                continue; // a key the dialog does not use
            return true;
        }
        if (c < 0x80) {
            m_pending.erase(0, 1);
            switch (c) {
            case '\t':
                event.Key = ZrKey::Tab;
                return true;
            case '\r':
            case '\n':
                event.Key = ZrKey::Enter;
                return true;
            case ' ':
                event.Key = ZrKey::Space;
                return true;
            case 0x7f:
            case 0x08:
                event.Key = ZrKey::Backspace;
                return true;
            case 0x03:
                event.Key = ZrKey::Interrupt;
                return true;
            default:
                if (c >= 0x20) {
                    event.Key = ZrKey::Text;
                    event.Text = std::string(1, static_cast<char>(c));
                    return true;
                }
                continue; // other control characters are ignored
            }
        }
        // A UTF-8 sequence: wait until it is complete.
        const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (m_pending.size() < length && !flush)
            return false;
        event.Key = ZrKey::Text;
        event.Text = m_pending.substr(0, std::min(length, m_pending.size()));
        m_pending.erase(0, event.Text.size());
        if (length == 1)
            continue; // a stray continuation byte
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Dialog

ZrTerminalDialog::ZrTerminalDialog(IZrForm& form, int32_t terminalColumns) : m_form(form) {
    // The window's width at eight pixels a column, within the terminal.
    const int32_t wanted = std::max<int32_t>(form.Width() / 8, 30);
    m_columns = std::max<int32_t>(std::min<int32_t>(wanted, terminalColumns - 2), 24);
    const std::vector<int32_t> stops = Stops();
    m_focus = stops.empty() ? OkStop : stops.front();
}

bool ZrTerminalDialog::Focusable(int32_t control) const {
    if (control == OkStop || control == CancelStop)
        return true;
    if (control < 0 || control >= m_form.ControlCount() || !m_form.Enabled(control))
        return false;
    switch (m_form.Kind(control)) {
    case ZrControlKind::CheckBox:
    case ZrControlKind::RadioButton:
    case ZrControlKind::DropDown:
    case ZrControlKind::Edit:
    case ZrControlKind::FileChooser:
        return true;
    default:
        return false;
    }
}

std::vector<int32_t> ZrTerminalDialog::Stops() const {
    std::vector<int32_t> stops;
    for (int32_t i = 0; i < m_form.ControlCount(); ++i)
        if (Focusable(i))
            stops.push_back(i);
    stops.push_back(OkStop);
    stops.push_back(CancelStop);
    return stops;
}

void ZrTerminalDialog::MoveFocus(int direction) {
    const std::vector<int32_t> stops = Stops();
    auto it = std::find(stops.begin(), stops.end(), m_focus);
    int32_t index = it == stops.end() ? 0 : static_cast<int32_t>(it - stops.begin());
    const int32_t n = static_cast<int32_t>(stops.size());
    index = ((index + direction) % n + n) % n;
    m_focus = stops[index];
}

void ZrTerminalDialog::EnsureFocusValid() {
    if (Focusable(m_focus))
        return;
    // The focused control became disabled: the next stop after it takes the focus.
    const std::vector<int32_t> stops = Stops();
    for (int32_t stop : stops) {
        if (stop >= 0 && stop > m_focus) {
            m_focus = stop;
            return;
        }
    }
    m_focus = OkStop;
}

void ZrTerminalDialog::ChangeSelection(int32_t control, int direction) {
    const int32_t count = m_form.ItemCount(control);
    if (count <= 0)
        return;
    int32_t item = m_form.Selected(control) + direction;
    item = std::clamp<int32_t>(item, 0, count - 1);
    if (item != m_form.Selected(control))
        m_form.SetSelected(control, item);
}

void ZrTerminalDialog::Activate() {
    if (m_focus == OkStop) {
        if (m_form.OnOkPressed())
            m_outcome = Outcome::Ok;
        return;
    }
    if (m_focus == CancelStop) {
        m_form.OnCancelPressed();
        m_outcome = Outcome::Cancel;
        return;
    }
    switch (m_form.Kind(m_focus)) {
    case ZrControlKind::CheckBox:
        m_form.SetChecked(m_focus, !m_form.Checked(m_focus));
        break;
    case ZrControlKind::RadioButton:
        m_form.SetChecked(m_focus, true);
        break;
    case ZrControlKind::DropDown:
        m_menuOpen = m_form.ItemCount(m_focus) > 0;
        m_menuItem = std::max<int32_t>(m_form.Selected(m_focus), 0);
        break;
    default:
        MoveFocus(1);
        break;
    }
}

void ZrTerminalDialog::ApplyMenuKey(const ZrKeyEvent& event) {
    const int32_t count = m_form.ItemCount(m_focus);
    switch (event.Key) {
    case ZrKey::Up:
    case ZrKey::BackTab:
        m_menuItem = std::max(m_menuItem - 1, 0);
        break;
    case ZrKey::Down:
    case ZrKey::Tab:
        m_menuItem = std::min(m_menuItem + 1, count - 1);
        break;
    case ZrKey::Home:
        m_menuItem = 0;
        break;
    case ZrKey::End:
        m_menuItem = count - 1;
        break;
    case ZrKey::Enter:
    case ZrKey::Space:
        m_menuOpen = false;
        if (m_menuItem != m_form.Selected(m_focus))
            m_form.SetSelected(m_focus, m_menuItem);
        break;
    case ZrKey::Escape:
        m_menuOpen = false;
        break;
    default:
        break;
    }
}

void ZrTerminalDialog::EditKey(const ZrKeyEvent& event) {
    std::string text = Utf8(m_form.EditText(m_focus));
    if (event.Key == ZrKey::Backspace) {
        if (text.empty())
            return;
        size_t cut = text.size() - 1;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        text.erase(cut);
    } else {
        text += event.Key == ZrKey::Space ? std::string(" ") : event.Text;
    }
    const std::u16string wide = ZrUtf8ToUtf16(text);
    m_form.SetEditText(m_focus, wide.c_str());
}

ZrTerminalDialog::Outcome ZrTerminalDialog::Handle(const ZrKeyEvent& event) {
    if (m_outcome != Outcome::Open)
        return m_outcome;
    if (event.Key == ZrKey::Interrupt) {
        m_form.OnCancelPressed();
        return m_outcome = Outcome::Cancel;
    }
    if (m_menuOpen) {
        ApplyMenuKey(event);
        EnsureFocusValid();
        return m_outcome;
    }
    const bool editing = m_focus >= 0 && (m_form.Kind(m_focus) == ZrControlKind::Edit ||
                                          m_form.Kind(m_focus) == ZrControlKind::FileChooser);
    switch (event.Key) {
    case ZrKey::Tab:
    case ZrKey::Down:
        MoveFocus(1);
        break;
    case ZrKey::BackTab:
    case ZrKey::Up:
        MoveFocus(-1);
        break;
    case ZrKey::Left:
    case ZrKey::Right: {
        const int direction = event.Key == ZrKey::Left ? -1 : 1;
        if (m_focus == OkStop || m_focus == CancelStop)
            m_focus = m_focus == OkStop ? CancelStop : OkStop;
        else if (m_form.Kind(m_focus) == ZrControlKind::DropDown)
            ChangeSelection(m_focus, direction);
        break;
    }
    case ZrKey::Escape:
        m_form.OnCancelPressed();
        m_outcome = Outcome::Cancel;
        break;
    case ZrKey::Enter:
        Activate();
        break;
    case ZrKey::Space:
        if (editing)
            EditKey(event);
        else
            Activate();
        break;
    case ZrKey::Text:
    case ZrKey::Backspace:
        if (editing)
            EditKey(event);
        break;
    default:
        break;
    }
    if (m_outcome == Outcome::Open)
        EnsureFocusValid();
    return m_outcome;
}

std::vector<std::string> ZrTerminalDialog::Render(bool attributes) const {
    const Frame frame{static_cast<size_t>(m_columns), attributes};
    const size_t text = frame.Text();
    std::vector<std::string> lines;
    lines.push_back(frame.Top(Utf8(m_form.Title())));
    lines.push_back(frame.Line(""));
    for (int32_t i = 0; i < m_form.ControlCount(); ++i) {
        const bool enabled = m_form.Enabled(i);
        const bool focused = i == m_focus;
        const char* attribute = !enabled ? Dim : focused ? Reverse : nullptr;
        const std::string label = Utf8(m_form.Text(i));
        switch (m_form.Kind(i)) {
        case ZrControlKind::Heading:
            if (i > 0)
                lines.push_back(frame.Line(""));
            lines.push_back(frame.Line(label, false, enabled ? Bold : Dim));
            break;
        case ZrControlKind::Label:
            for (const auto& l : Wrap(label, text))
                lines.push_back(frame.Line(l, false, enabled ? nullptr : Dim));
            break;
        case ZrControlKind::HelpText:
            for (const auto& l : Wrap(label, text))
                lines.push_back(frame.Line(l, false, Dim));
            break;
        case ZrControlKind::CheckBox:
        case ZrControlKind::RadioButton: {
            // Long labels continue below, under the label's first letter.
            const bool radio = m_form.Kind(i) == ZrControlKind::RadioButton;
            const std::string mark = radio ? (m_form.Checked(i) ? "(*) " : "( ) ")
                                           : (m_form.Checked(i) ? "[x] " : "[ ] ");
            const std::vector<std::string> wrapped = Wrap(label, text - 4);
            for (size_t n = 0; n < wrapped.size(); ++n)
                lines.push_back(frame.Line((n == 0 ? mark : "    ") + wrapped[n], focused && n == 0,
                                           attribute));
            break;
        }
        case ZrControlKind::DropDown: {
            const std::string prefix = FieldPrefix(label);
            const int32_t selected = m_form.Selected(i);
            const std::string value = selected >= 0 ? Utf8(m_form.ItemText(i, selected)) : "";
            const size_t box = text > Width(prefix) + 5 ? text - Width(prefix) - 5 : 4;
            lines.push_back(
                frame.Line(prefix + "[ " + Pad(value, box) + " v]", focused, attribute));
            if (focused && m_menuOpen) {
                for (int32_t item = 0; item < m_form.ItemCount(i); ++item) {
                    const bool current = item == m_menuItem;
                    const std::string entry = std::string(Width(prefix), ' ') +
                                              (current ? " > " : "   ") +
                                              Utf8(m_form.ItemText(i, item));
                    lines.push_back(frame.Line(entry, false, current ? Reverse : nullptr));
                }
            }
            break;
        }
        case ZrControlKind::Edit:
        case ZrControlKind::FileChooser: {
            const std::string prefix = FieldPrefix(label);
            const size_t box = text > Width(prefix) + 3 ? text - Width(prefix) - 3 : 4;
            std::string value = Utf8(m_form.EditText(i));
            if (focused)
                value += "_";
            lines.push_back(
                frame.Line(prefix + "[" + Pad(Tail(value, box), box) + "]", focused, attribute));
            break;
        }
        }
    }
    lines.push_back(frame.Line(""));
    const int buttonFocus = m_focus == OkStop ? 0 : m_focus == CancelStop ? 1 : -1;
    lines.push_back(frame.Buttons({Utf8(m_form.OkText()), Utf8(m_form.CancelText())}, buttonFocus));
    lines.push_back(frame.Bottom());
    const std::string hint = "Tab/arrows move, Space changes, Esc cancels";
    lines.push_back(attributes ? std::string(Dim) + Take(hint, m_columns) + Reset
                               : Take(hint, m_columns));
    return lines;
}

std::string ZrTerminalDialog::RenderPlain() const {
    std::string out;
    for (const auto& line : Render(false))
        out += line + "\n";
    return out;
}

// ---------------------------------------------------------------------------------------------
// Message box

ZrTerminalMessage::ZrTerminalMessage(std::string title, std::string text, int32_t buttons,
                                     int32_t columns)
    : m_title(std::move(title)), m_text(std::move(text)), m_buttons(buttons),
      m_columns(std::clamp<int32_t>(columns, 24, 72)) {}

ZrTerminalDialog::Outcome ZrTerminalMessage::Handle(const ZrKeyEvent& event) {
    using Outcome = ZrTerminalDialog::Outcome;
    const bool two = m_buttons == ZrMessageOkCancel || m_buttons == ZrMessageYesNo;
    switch (event.Key) {
    case ZrKey::Left:
    case ZrKey::Right:
    case ZrKey::Tab:
    case ZrKey::BackTab:
        if (two)
            m_focus = 1 - m_focus;
        break;
    case ZrKey::Enter:
    case ZrKey::Space:
        m_outcome = m_focus == 0 ? Outcome::Ok : Outcome::Cancel;
        break;
    case ZrKey::Escape:
    case ZrKey::Interrupt:
        m_outcome = Outcome::Cancel;
        break;
    default:
        break;
    }
    return m_outcome;
}

std::vector<std::string> ZrTerminalMessage::Render(bool attributes) const {
    const Frame frame{static_cast<size_t>(m_columns), attributes};
    std::vector<std::string> lines;
    lines.push_back(frame.Top(m_title));
    lines.push_back(frame.Line(""));
    for (const auto& l : Wrap(m_text, frame.Text()))
        lines.push_back(frame.Line(l));
    lines.push_back(frame.Line(""));
    std::vector<std::string> captions;
    if (m_buttons == ZrMessageYesNo)
        captions = {"Yes", "No"};
    else if (m_buttons == ZrMessageOkCancel)
        captions = {"OK", "Cancel"};
    else
        captions = {"OK"};
    lines.push_back(frame.Buttons(captions, m_focus));
    lines.push_back(frame.Bottom());
    return lines;
}
