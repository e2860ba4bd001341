#include "options/PresetEncoderOptionsWnd.h"

#include "frame/ZrHostLibraries.h"

void CPresetEncoderOptionsWnd::CreateControls() {
    m_normal = AddRadioButton(u"Normal", 0);
    m_custom = AddRadioButton(u"Custom", 0);
    AddHelpText(m_settings.CustomText);
    CheckRadio(m_settings.Mode.Get(Settings()) == ZrPresetSettings::ModeCustom ? m_custom
                                                                               : m_normal);

    m_quality = AddComboBox(u"Quality:");
    for (const ZrPresetRow& row : m_settings.Rows)
        m_quality->AddItem(ZrTranslate(row.Name), ZrString());
    // A quality outside the table stands for the default row.
    const ZrPresetRow& row = m_settings.Row(m_settings.Quality.Get(Settings()));
    m_quality->Select(static_cast<int32_t>(&row - m_settings.Rows.data()));

    m_commandLine = AddEdit(u"Command line:");
    m_commandLine->SetText(m_settings.CommandLine.Get(Settings()));
}

void CPresetEncoderOptionsWnd::UpdateControls() {
    const bool custom = m_custom->IsChecked();
    m_quality->Enable(!custom);
    m_commandLine->Enable(custom);
}

void CPresetEncoderOptionsWnd::OnOK() {
    m_settings.Mode.Set(Settings(), m_custom->IsChecked() ? ZrPresetSettings::ModeCustom
                                                          : ZrPresetSettings::ModeNormal);
    const int32_t selected = m_quality->Selected();
    m_settings.Quality.Set(Settings(), selected >= 0 ? selected : m_settings.Quality.Default);
    m_settings.CommandLine.Set(Settings(), m_commandLine->GetText());
    Close(ZrModalOk);
}
