// The toolkit's modal popups, as a form model that the host's user-interface service renders.
//
// A window creates its controls in CreateControls, in the order they are shown, and keeps typed
// pointers to the ones it reads back. UpdateControls runs after every change the user makes, so
// a window can enable or disable controls that depend on others. OnOK and OnCancel end the
// window with result 1 or 2.
#pragma once

#include "foundation/ZrString.h"
#include "tessary/ZrUIService.h"

#include <cstdint>
#include <memory>
#include <vector>

class ZrPopupWnd;

class ZrControl {
public:
    ZrControl(ZrControlKind kind, const ZrString& text) : m_kind(kind), m_text(text) {}
    virtual ~ZrControl() = default;

    ZrControlKind Kind() const { return m_kind; }
    const ZrString& Text() const { return m_text; }
    bool IsEnabled() const { return m_enabled; }
    void Enable(bool enabled) { m_enabled = enabled; }

private:
    ZrControlKind m_kind;
    ZrString m_text;
    bool m_enabled = true;
};

class ZrCheckBox : public ZrControl {
public:
    explicit ZrCheckBox(const ZrString& text) : ZrControl(ZrControlKind::CheckBox, text) {}
    bool IsChecked() const { return m_checked; }
    void SetChecked(bool checked) { m_checked = checked; }

private:
    bool m_checked = false;
};

class ZrRadioButton : public ZrControl {
public:
    ZrRadioButton(const ZrString& text, int32_t group)
        : ZrControl(ZrControlKind::RadioButton, text), m_group(group) {}
    bool IsChecked() const { return m_checked; }
    int32_t Group() const { return m_group; }

private:
    friend class ZrPopupWnd;
    bool m_checked = false;
    int32_t m_group;
};

// A drop-down list: items with a shown text and a value.
class ZrComboBox : public ZrControl {
public:
    explicit ZrComboBox(const ZrString& label) : ZrControl(ZrControlKind::DropDown, label) {}
    void AddItem(const ZrString& text, const ZrString& value);
    int32_t ItemCount() const { return static_cast<int32_t>(m_items.size()); }
    const ZrString& ItemText(int32_t item) const { return m_items[item].Text; }
    int32_t Selected() const { return m_selected; }
    void Select(int32_t item) { m_selected = item >= 0 && item < ItemCount() ? item : -1; }
    // Selects the first item whose value equals `value` (exactly); false when none does.
    bool SelectValue(const ZrString& value);
    // The selected item's value; `fallback` when nothing is selected.
    ZrString SelectedValue(const ZrString& fallback = {}) const;

private:
    struct Item {
        ZrString Text;
        ZrString Value;
    };
    std::vector<Item> m_items;
    int32_t m_selected = -1;
};

// A line of text.
class ZrEditBox : public ZrControl {
public:
    explicit ZrEditBox(const ZrString& label) : ZrControl(ZrControlKind::Edit, label) {}
    const ZrString& GetText() const { return m_value; }
    void SetText(const ZrString& text) { m_value = text; }

private:
    ZrString m_value;
};

class ZrPopupWnd : public IZrForm {
public:
    ZrPopupWnd() = default;
    ZrPopupWnd(const ZrPopupWnd&) = delete;
    ZrPopupWnd& operator=(const ZrPopupWnd&) = delete;
    virtual ~ZrPopupWnd() = default;

    virtual ZrString GetTitle() = 0;
    virtual void CreateControls() {}
    virtual void UpdateControls() {}
    // Width in pixels: the window's logical width scaled by the host.
    virtual int32_t GetWidth();
    virtual void OnOK() { Close(ZrModalOk); }
    virtual void OnCancel() { Close(ZrModalCancel); }

    // Creates the controls (once) and runs the window through the host's user-interface service.
    // Returns the result: 1 after OK, 2 after Cancel (also when no host can show it).
    int32_t DoModal();
    // Creates the controls without showing anything (what DoModal does first).
    void Create();
    int32_t Result() const { return m_result; }

    // A logical length in the host's pixels; unscaled without a host.
    static int32_t ScaleLength(int32_t logical);

    // The form model, for the renderer.
    const char16_t* Title() override;
    int32_t Width() override { return GetWidth(); }
    int32_t ControlCount() override { return static_cast<int32_t>(m_controls.size()); }
    ZrControlKind Kind(int32_t control) override;
    const char16_t* Text(int32_t control) override;
    bool Enabled(int32_t control) override;
    int32_t Group(int32_t control) override;
    bool Checked(int32_t control) override;
    int32_t ItemCount(int32_t control) override;
    const char16_t* ItemText(int32_t control, int32_t item) override;
    int32_t Selected(int32_t control) override;
    const char16_t* EditText(int32_t control) override;
    const char16_t* OkText() override;
    const char16_t* CancelText() override;
    void SetChecked(int32_t control, bool checked) override;
    void SetSelected(int32_t control, int32_t item) override;
    void SetEditText(int32_t control, const char16_t* text) override;
    bool OnOkPressed() override;
    void OnCancelPressed() override;

    ZrControl* ControlAt(int32_t index) const;

protected:
    // Builders for CreateControls; every text passes through the host's translator.
    ZrControl* AddHeading(const char16_t* text);
    ZrControl* AddLabel(const char16_t* text);
    ZrControl* AddHelpText(const char16_t* text);
    ZrCheckBox* AddCheckBox(const char16_t* text);
    ZrRadioButton* AddRadioButton(const char16_t* text, int32_t group);
    ZrComboBox* AddComboBox(const char16_t* label);
    ZrEditBox* AddEdit(const char16_t* label);
    void CheckRadio(ZrRadioButton* button);
    void Close(int32_t result) { m_result = result; }

private:
    template <typename T, typename... Args>
    T* Add(Args&&... args);

    std::vector<std::unique_ptr<ZrControl>> m_controls;
    bool m_created = false;
    int32_t m_result = 0;
    ZrString m_title;
    ZrString m_ok;
    ZrString m_cancel;
};

class ZrOkCancelPopupWnd : public ZrPopupWnd {};

// The default width of fixed-size popups is 400 logical units.
class ZrFixedSizeOkCancelPopupWnd : public ZrOkCancelPopupWnd {
public:
    int32_t GetWidth() override { return ScaleLength(400); }
};
