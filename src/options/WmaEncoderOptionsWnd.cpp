#include "options/WmaEncoderOptionsWnd.h"

#include "codecs/wma/WmaSettings.h"
#include "frame/ZrHostLibraries.h"

using namespace WmaSettings;

namespace {

// The list of a table's labels with the item at `index` selected (none when outside).
ZrComboBox* FillList(ZrComboBox* list, std::span<const Profile> table, int32_t index) {
    for (const Profile& profile : table)
        list->AddItem(ZrTranslate(profile.Label), profile.Label);
    list->Select(index);
    return list;
}

} // namespace

void CWmaEncoderOptionsWnd::CreateControls() {
    AddHelpText(u"The VBR qualities are written at a constant bit rate, the one each quality "
                u"gives on average: Low 128, Normal/Low 160, Normal 192, Normal/High 256 and "
                u"High 320 kbps. Lossless mode cannot be written on this system.");
    m_modes[ModeCbr] = AddRadioButton(u"CBR Mode", 0);
    m_cbr = FillList(AddComboBox(u""), CbrProfiles, CbrBitrate.Get(Settings()));
    m_modes[ModeVbr] = AddRadioButton(u"VBR Mode", 0);
    m_vbr = FillList(AddComboBox(u""), VbrProfiles, VbrBitrate.Get(Settings()));
    m_modes[ModeLossless] = AddRadioButton(u"Lossless Mode", 0);
    const int32_t mode = Mode.Get(Settings());
    if (mode >= ModeCbr && mode <= ModeLossless)
        CheckRadio(m_modes[mode]);
    m_security = AddCheckBox(u"Enable Personal Rights Management");
    m_security->SetChecked(Security.Get(Settings()) != 0);
    UpdateControls();
}

void CWmaEncoderOptionsWnd::UpdateControls() {
    m_cbr->Enable(m_modes[ModeCbr]->IsChecked());
    m_vbr->Enable(m_modes[ModeVbr]->IsChecked());
}

void CWmaEncoderOptionsWnd::OnOK() {
    for (int32_t mode = ModeCbr; mode <= ModeLossless; ++mode)
        if (m_modes[mode]->IsChecked())
            Mode.Set(Settings(), mode);
    Security.Set(Settings(), m_security->IsChecked() ? 1 : 0);
    // A stored index outside its table shows no selection and stays as it was.
    CbrBitrate.Set(Settings(),
                   m_cbr->Selected() >= 0 ? m_cbr->Selected() : CbrBitrate.Get(Settings()));
    VbrBitrate.Set(Settings(),
                   m_vbr->Selected() >= 0 ? m_vbr->Selected() : VbrBitrate.Get(Settings()));
    Close(ZrModalOk);
}
