#include "options/DSDEncoderOptionsWnd.h"

#include "codecs/dsd/DsdSettings.h"
#include "foundation/ZrNumber.h"
#include "frame/ZrHostLibraries.h"

void CDSDEncoderOptionsWnd::CreateControls() {
    // One help text of three paragraphs; each piece is translated on its own.
    const ZrString help =
        ZrTranslate(u"Direct Stream Digital (DSD) is a high-quality method for representing "
                    u"sound.\r\n\r\n") +
        ZrTranslate(u"DSD uses a one bit delta-sigma encoded signal, stored at a sample rate of "
                    u"2.8 or 5.6 MHz.\r\n\r\n") +
        ZrTranslate(u"Encoding is done to a DSF file, which offers full tagging support.");
    AddHelpText(help.c_str());

    AddHeading(u"Sample Rate");
    m_rate = AddComboBox(u"");
    for (const DsdSampleRateChoice& choice : DsdSampleRateChoices)
        m_rate->AddItem(ZrTranslate(choice.Label), ZrString::FromInt(choice.Rate));
    m_rate->SelectValue(ZrString::FromInt(DsdSampleRateSetting.Get(Settings())
                                              ? DsdSampleRateSetting.Get(Settings())
                                              : DsdSampleRateSetting.Default));
}

void CDSDEncoderOptionsWnd::OnOK() {
    const int32_t rate = m_rate->Selected() >= 0 ? ZrParseInt32(m_rate->SelectedValue().View())
                                                 : DsdSampleRateSetting.Default;
    DsdSampleRateSetting.Set(Settings(), rate);
    Close(ZrModalOk);
}
