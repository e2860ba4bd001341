#include "options/ZrPopupWnd.h"

#include "frame/ZrHostLibraries.h"

namespace {

IZrUIService* UIService() {
    ZrTools* tools = GetTools(false);
    return tools ? tools->GetUIService(1) : nullptr;
}

} // namespace

void ZrComboBox::AddItem(const ZrString& text, const ZrString& value) {
    m_items.push_back(Item{text, value});
}

bool ZrComboBox::SelectValue(const ZrString& value) {
    for (int32_t i = 0; i < ItemCount(); ++i) {
        if (m_items[i].Value == value) {
            m_selected = i;
            return true;
        }
    }
    return false;
}

ZrString ZrComboBox::SelectedValue(const ZrString& fallback) const {
    return m_selected >= 0 ? m_items[m_selected].Value : fallback;
}

int32_t ZrPopupWnd::ScaleLength(int32_t logical) {
    if (IZrUIService* service = UIService())
        if (IZrUIMetrics* metrics = service->GetMetrics(1))
            return metrics->Scale(logical, 0);
    return logical;
}

int32_t ZrPopupWnd::GetWidth() {
    return ScaleLength(400);
}

void ZrPopupWnd::Create() {
    if (m_created)
        return;
    m_created = true;
    CreateControls();
    UpdateControls();
}

int32_t ZrPopupWnd::DoModal() {
    Create();
    m_result = 0;
    IZrUIService* service = UIService();
    if (!service) {
        OnCancel();
        return m_result;
    }
    const int32_t answer = service->RunModal(this, service->FindWindow(nullptr));
    // A renderer may answer without pressing a button itself; anything but OK is Cancel.
    if (m_result == 0 && answer == ZrModalOk)
        OnOkPressed();
    if (m_result == 0)
        OnCancel();
    return m_result;
}

template <typename T, typename... Args>
T* ZrPopupWnd::Add(Args&&... args) {
    auto control = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = control.get();
    m_controls.push_back(std::move(control));
    return raw;
}

ZrControl* ZrPopupWnd::AddHeading(const char16_t* text) {
    return Add<ZrControl>(ZrControlKind::Heading, ZrTranslate(text));
}

ZrControl* ZrPopupWnd::AddLabel(const char16_t* text) {
    return Add<ZrControl>(ZrControlKind::Label, ZrTranslate(text));
}

ZrControl* ZrPopupWnd::AddHelpText(const char16_t* text) {
    return Add<ZrControl>(ZrControlKind::HelpText, ZrTranslate(text));
}

ZrCheckBox* ZrPopupWnd::AddCheckBox(const char16_t* text) {
    return Add<ZrCheckBox>(ZrTranslate(text));
}

ZrRadioButton* ZrPopupWnd::AddRadioButton(const char16_t* text, int32_t group) {
    return Add<ZrRadioButton>(ZrTranslate(text), group);
}

ZrComboBox* ZrPopupWnd::AddComboBox(const char16_t* label) {
    return Add<ZrComboBox>(ZrTranslate(label));
}

ZrEditBox* ZrPopupWnd::AddEdit(const char16_t* label) {
    return Add<ZrEditBox>(ZrTranslate(label));
}

void ZrPopupWnd::CheckRadio(ZrRadioButton* button) {
    for (auto& c : m_controls) {
        if (c->Kind() != ZrControlKind::RadioButton)
            continue;
        auto* radio = static_cast<ZrRadioButton*>(c.get());
        if (radio->Group() == button->Group())
            radio->m_checked = radio == button;
    }
}

ZrControl* ZrPopupWnd::ControlAt(int32_t index) const {
    return index >= 0 && index < static_cast<int32_t>(m_controls.size()) ? m_controls[index].get()
                                                                         : nullptr;
}

const char16_t* ZrPopupWnd::Title() {
    m_title = GetTitle();
    return m_title.c_str();
}

ZrControlKind ZrPopupWnd::Kind(int32_t control) {
    const ZrControl* c = ControlAt(control);
    return c ? c->Kind() : ZrControlKind::Label;
}

const char16_t* ZrPopupWnd::Text(int32_t control) {
    const ZrControl* c = ControlAt(control);
    return c ? c->Text().c_str() : u"";
}

bool ZrPopupWnd::Enabled(int32_t control) {
    const ZrControl* c = ControlAt(control);
    return c && c->IsEnabled();
}

int32_t ZrPopupWnd::Group(int32_t control) {
    const ZrControl* c = ControlAt(control);
    return c && c->Kind() == ZrControlKind::RadioButton
               ? static_cast<const ZrRadioButton*>(c)->Group()
               : -1;
}

bool ZrPopupWnd::Checked(int32_t control) {
    const ZrControl* c = ControlAt(control);
    if (!c)
        return false;
    if (c->Kind() == ZrControlKind::CheckBox)
        return static_cast<const ZrCheckBox*>(c)->IsChecked();
    if (c->Kind() == ZrControlKind::RadioButton)
        return static_cast<const ZrRadioButton*>(c)->IsChecked();
    return false;
}

int32_t ZrPopupWnd::ItemCount(int32_t control) {
    const ZrControl* c = ControlAt(control);
    return c && c->Kind() == ZrControlKind::DropDown
               ? static_cast<const ZrComboBox*>(c)->ItemCount()
               : 0;
}

const char16_t* ZrPopupWnd::ItemText(int32_t control, int32_t item) {
    const ZrControl* c = ControlAt(control);
    if (!c || c->Kind() != ZrControlKind::DropDown)
        return u"";
    const auto* combo = static_cast<const ZrComboBox*>(c);
    return item >= 0 && item < combo->ItemCount() ? combo->ItemText(item).c_str() : u"";
}

int32_t ZrPopupWnd::Selected(int32_t control) {
    const ZrControl* c = ControlAt(control);
    return c && c->Kind() == ZrControlKind::DropDown ? static_cast<const ZrComboBox*>(c)->Selected()
                                                     : -1;
}

const char16_t* ZrPopupWnd::EditText(int32_t control) {
    const ZrControl* c = ControlAt(control);
    if (!c || c->Kind() != ZrControlKind::Edit)
        return u"";
    return static_cast<const ZrEditBox*>(c)->GetText().c_str();
}

const char16_t* ZrPopupWnd::OkText() {
    m_ok = ZrTranslate(u"OK");
    return m_ok.c_str();
}

const char16_t* ZrPopupWnd::CancelText() {
    m_cancel = ZrTranslate(u"Cancel");
    return m_cancel.c_str();
}

void ZrPopupWnd::SetChecked(int32_t control, bool checked) {
    ZrControl* c = ControlAt(control);
    if (!c || !c->IsEnabled())
        return;
    if (c->Kind() == ZrControlKind::CheckBox)
        static_cast<ZrCheckBox*>(c)->SetChecked(checked);
    else if (c->Kind() == ZrControlKind::RadioButton && checked)
        CheckRadio(static_cast<ZrRadioButton*>(c));
    else
        return;
    UpdateControls();
}

void ZrPopupWnd::SetSelected(int32_t control, int32_t item) {
    ZrControl* c = ControlAt(control);
    if (!c || !c->IsEnabled() || c->Kind() != ZrControlKind::DropDown)
        return;
    static_cast<ZrComboBox*>(c)->Select(item);
    UpdateControls();
}

void ZrPopupWnd::SetEditText(int32_t control, const char16_t* text) {
    ZrControl* c = ControlAt(control);
    if (!c || !c->IsEnabled() || c->Kind() != ZrControlKind::Edit)
        return;
    static_cast<ZrEditBox*>(c)->SetText(ZrString(text));
    UpdateControls();
}

bool ZrPopupWnd::OnOkPressed() {
    OnOK();
    return m_result != 0;
}

void ZrPopupWnd::OnCancelPressed() {
    OnCancel();
}
