#include "options/FlacEncoderOptionsWnd.h"

#include "codecs/flac/FlacSettings.h"
#include "foundation/ZrNumber.h"
#include "frame/ZrHostLibraries.h"

using namespace FlacSettings;

void CFlacEncoderOptionsWnd::CreateControls() {
    AddHeading(u"Compression Level");
    AddHelpText(u"All compression levels offer lossless, bit-perfect encoding.  Higher numbers "
                u"make smaller files, but take longer to encode and decode.");
    m_level = AddComboBox(u"");
    for (int32_t level = MinQuality; level <= MaxQuality; ++level) {
        const ZrString number = ZrString::FromInt(level);
        m_level->AddItem(
            level == RecommendedQuality ? number + ZrTranslate(u" (recommended)") : number, number);
    }
    // The list holds the level's text as it stands in the settings.
    ZrString current;
    Settings().GetString(current, Quality.Key, ZrString::FromInt(Quality.Default).c_str());
    m_level->SelectValue(current);

    AddHeading(u"Encoding Options");
    auto box = [this](const char16_t* text, const ZrIntSetting& setting) {
        ZrCheckBox* check = AddCheckBox(text);
        check->SetChecked(setting.Get(Settings()) != 0);
        return check;
    };
    m_verify = box(u"Verify encoding", Verify);
    m_padding = box(u"Add 4k padding block", AddPB);
    m_seekTable = box(u"Add seek table (if possible)", AddST);
    m_ogg = box(u"Use Ogg as transport layer (*.ogg)", Ogg);
}

void CFlacEncoderOptionsWnd::OnOK() {
    Quality.Set(Settings(), ZrParseInt32(m_level->SelectedValue(u"6").View()));
    Verify.Set(Settings(), m_verify->IsChecked() ? 1 : 0);
    AddPB.Set(Settings(), m_padding->IsChecked() ? 1 : 0);
    AddST.Set(Settings(), m_seekTable->IsChecked() ? 1 : 0);
    Ogg.Set(Settings(), m_ogg->IsChecked() ? 1 : 0);
    Close(ZrModalOk);
}
