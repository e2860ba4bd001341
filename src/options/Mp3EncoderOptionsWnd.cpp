#include "options/Mp3EncoderOptionsWnd.h"

#include "external/LameVBRQualityArray.h"
#include "external/Mp3Settings.h"
#include "foundation/ZrNumber.h"
#include "frame/ZrHostLibraries.h"

using namespace Mp3Settings;

CMp3EncoderOptionsWnd::CMp3EncoderOptionsWnd(ZrEncoderBase* encoder)
    : ZrEncoderOptionsWnd(encoder) {
    CheckMode(Settings());
}

ZrComboBox* CMp3EncoderOptionsWnd::AddBitrates(std::span<const int32_t> values, int32_t current) {
    ZrComboBox* list = AddComboBox(u"Target Bitrate:");
    const ZrString format = ZrTranslate(u"%d kbps");
    for (const int32_t kbps : values) {
        ZrString text = format;
        text.Replace(u"%d", ZrString::FromInt(kbps).View());
        list->AddItem(text, ZrString::FromInt(kbps));
    }
    list->SelectValue(ZrString::FromInt(current));
    return list;
}

void CMp3EncoderOptionsWnd::CreateControls() {
    ZrPropertyMap& settings = Settings();
    const auto stored = [&](const ZrIntSetting& s) { return settings.GetInt(s.Key, s.Default); };
    ZrString commandLine;
    settings.GetString(commandLine, CommandLine.Key, CommandLine.Default);
    m_storedBitrate = stored(Bitrate);
    m_storedSpeedBitrate = stored(SpeedBitrate);

    m_modes[ModeVbr] = AddRadioButton(u"VBR Encoding", 0);
    AddHelpText(u"This uses L.A.M.E., the highest quality MP3 encoder.  VBR modes provide the "
                u"best trade-off between quality and space used.");
    m_quality = AddComboBox(u"Target Quality:");
    const CLameVBRQualityArray qualities;
    for (size_t i = 0; i < qualities.Count(); ++i)
        m_quality->AddItem(ZrTranslate(qualities[i].Name.c_str()),
                           ZrString::FromInt(static_cast<int64_t>(i)));
    const int32_t row = qualities.Find(commandLine);
    m_quality->Select(row < 0 ? static_cast<int32_t>(CLameVBRQualityArray::DefaultIndex) : row);

    m_modes[ModeCbrAbr] = AddRadioButton(u"CBR / ABR Encoding", 0);
    AddHelpText(u"This uses L.A.M.E., the highest quality MP3 encoder.");
    m_bitrate = AddBitrates(LameBitrates, m_storedBitrate);
    m_forceCbr = AddCheckBox(u"Restrict encoder to constant bitrate (CBR Encoding)");
    m_forceCbr->SetChecked(stored(ForceCBR) != 0);

    m_modes[ModeGoGo] = AddRadioButton(u"Faster CBR Encoding", 0);
    AddHelpText(u"This uses Go-Go, one of the fastest MP3 encoders.  Quality is slightly lower "
                u"than with the L.A.M.E. encoder.");
    m_speedBitrate = AddBitrates(GoGoBitrates, m_storedSpeedBitrate);

    m_modes[ModeCustom] = AddRadioButton(u"Custom Command Line Switches (advanced)", 0);
    m_commandLine = AddEdit(u"Command Line:");
    m_commandLine->SetText(commandLine);

    const int32_t mode = stored(Mode);
    if (mode >= 0 && mode < static_cast<int32_t>(m_modes.size()))
        CheckRadio(m_modes[mode]);
}

int32_t CMp3EncoderOptionsWnd::SelectedMode() const {
    for (size_t mode = 0; mode < m_modes.size(); ++mode)
        if (m_modes[mode]->IsChecked())
            return static_cast<int32_t>(mode);
    return -1;
}

void CMp3EncoderOptionsWnd::UpdateControls() {
    const int32_t mode = SelectedMode();
    m_quality->Enable(mode == ModeVbr);
    m_bitrate->Enable(mode == ModeCbrAbr);
    m_forceCbr->Enable(mode == ModeCbrAbr);
    m_speedBitrate->Enable(mode == ModeGoGo);
    m_commandLine->Enable(mode == ModeCustom);
    // On opening the field shows the stored line as it is.
    if (!m_opened) {
        m_opened = true;
        return;
    }
    const auto value = [](const ZrComboBox* list, int32_t fallback) {
        return ZrParseInt32(list->SelectedValue(ZrString::FromInt(fallback)).View());
    };
    switch (mode) {
    case ModeCbrAbr:
        m_commandLine->SetText(ZrString::Format("lame.exe --preset %s%d",
                                                m_forceCbr->IsChecked() ? "cbr " : "",
                                                value(m_bitrate, m_storedBitrate)));
        break;
    case ModeVbr: {
        const CLameVBRQualityArray qualities;
        const int32_t row = value(m_quality, CLameVBRQualityArray::DefaultIndex);
        if (row >= 0 && static_cast<size_t>(row) < qualities.Count())
            m_commandLine->SetText(qualities[static_cast<size_t>(row)].Switches);
        break;
    }
    case ModeGoGo:
        m_commandLine->SetText(
            ZrString::Format("gogo.exe -b %d", value(m_speedBitrate, m_storedSpeedBitrate)));
        break;
    default:
        break; // the user's own line stays
    }
}

void CMp3EncoderOptionsWnd::OnOK() {
    ZrPropertyMap& settings = Settings();
    const int32_t mode = SelectedMode();
    if (mode >= 0)
        Mode.Set(settings, mode);
    Bitrate.Set(settings,
                ZrParseInt32(m_bitrate->SelectedValue(ZrString::FromInt(m_storedBitrate)).View()));
    ForceCBR.Set(settings, m_forceCbr->IsChecked() ? 1 : 0);
    SpeedBitrate.Set(
        settings,
        ZrParseInt32(
            m_speedBitrate->SelectedValue(ZrString::FromInt(m_storedSpeedBitrate)).View()));
    VBRQualityMode.Set(settings,
                       m_quality->Selected() < 0 ? VBRQualityMode.Default : m_quality->Selected());
    CommandLine.Set(settings, m_commandLine->GetText());
    Close(ZrModalOk);
}
