#include "options/WvEncoderOptionsWnd.h"

#include "codecs/wavpack/WvSettings.h"
#include "foundation/ZrNumber.h"
#include "frame/ZrHostLibraries.h"

using namespace WvSettings;

void CWvEncoderOptionsWnd::CreateControls() {
    AddLabel(u"Open audio codec facilitating both loseless compression and a unique hybrid "
             u"compression mode. See https://www.wavpack.com");
    AddHeading(u"Compression");

    AddLabel(u"Type");
    m_lossless = AddRadioButton(u"Lossless", 0);
    m_hybrid = AddRadioButton(u"Hybrid", 0);
    CheckRadio(CompressionType.Get(Settings()) == TypeLossless ? m_lossless : m_hybrid);

    m_quality = AddComboBox(u"Quality");
    m_quality->AddItem(ZrTranslate(u"Fast"), ZrString::FromInt(QualityFast));
    m_quality->AddItem(ZrTranslate(u"Normal (recommended)"), ZrString::FromInt(QualityNormal));
    m_quality->AddItem(ZrTranslate(u"High"), ZrString::FromInt(QualityHigh));
    m_quality->AddItem(ZrTranslate(u"Very High (not recommended for most uses)"),
                       ZrString::FromInt(QualityVeryHigh));
    m_quality->SelectValue(ZrString::FromInt(Compression.Get(Settings())));

    m_extra = AddComboBox(u"Extra Encode Processing");
    for (int32_t level = 0; level <= MaxExtraProcessing; ++level)
        m_extra->AddItem(ZrString::FromInt(level), ZrString::FromInt(level));
    m_extra->SelectValue(ZrString::FromInt(ExtraProcessing.Get(Settings())));

    AddHeading(u"Options for Hybrid Encoding");
    AddLabel(u"Correction File");
    m_correctionFile = AddCheckBox(u"Create Correction File");
    m_correctionFile->SetChecked(CorrectionFile.Get(Settings()) == 1);
    m_bitrate = AddComboBox(u"Target Bitrate");
    for (int32_t kbps : BitrateValues)
        m_bitrate->AddItem(ZrString::FromInt(kbps), ZrString::FromInt(kbps));
    m_bitrate->SelectValue(ZrString::FromInt(TargetBitrate.Get(Settings())));
}

void CWvEncoderOptionsWnd::UpdateControls() {
    // The hybrid options mean nothing to a lossless file.
    const bool hybrid = m_hybrid->IsChecked();
    m_correctionFile->Enable(hybrid);
    m_bitrate->Enable(hybrid);
}

void CWvEncoderOptionsWnd::OnOK() {
    Compression.Set(Settings(), ZrParseInt32(m_quality->SelectedValue(u"0").View()));
    CompressionType.Set(Settings(), m_lossless->IsChecked() ? TypeLossless : TypeHybrid);
    ExtraProcessing.Set(Settings(), ZrParseInt32(m_extra->SelectedValue(u"0").View()));
    TargetBitrate.Set(Settings(), ZrParseInt32(m_bitrate->SelectedValue(u"256").View()));
    CorrectionFile.Set(Settings(), m_correctionFile->IsChecked() ? 1 : 0);
    Close(ZrModalOk);
}
