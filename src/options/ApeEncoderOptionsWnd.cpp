#include "options/ApeEncoderOptionsWnd.h"

#include "codecs/ape/ApeSettings.h"
#include "foundation/ZrNumber.h"
#include "frame/ZrHostLibraries.h"

using namespace ApeSettings;

void CApeEncoderOptionsWnd::CreateControls() {
    // The version is put in after translation, so that translations need not follow it.
    ZrString description = ZrTranslate(u"Monkey's Audio %s is a fast, free, lossless encoder.");
    description.Replace(u"%s", u"8.35");
    AddLabel(description.c_str());

    AddHeading(u"Compression Level");
    AddHelpText(u"All compression levels offer lossless, bit-perfect encoding.  Higher "
                u"compression levels make smaller files, but take longer to encode and decode.");
    m_level = AddComboBox(u"");
    const char16_t* names[] = {u"Fast", u"Normal (recommended)", u"High",
                               u"Extra High (not recommended for most uses)"};
    for (size_t i = 0; i < Levels.size(); ++i)
        m_level->AddItem(ZrTranslate(names[i]), ZrString::FromInt(Levels[i]));
    const int32_t level = Compression.Get(Settings());
    m_level->SelectValue(ZrString::FromInt(level ? level : Compression.Default));
}

void CApeEncoderOptionsWnd::OnOK() {
    const int32_t level = m_level->Selected() >= 0 ? ZrParseInt32(m_level->SelectedValue().View())
                                                   : Compression.Default;
    Compression.Set(Settings(), level);
    Close(ZrModalOk);
}
