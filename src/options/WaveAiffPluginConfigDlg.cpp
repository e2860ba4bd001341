#include "options/WaveAiffPluginConfigDlg.h"

#include "frame/ZrHostLibraries.h"

ZrString CWaveAiffPluginConfigDlg::GetTitle() {
    return ZrTranslate(u"WAVE/AIFF plugin configuration");
}

void CWaveAiffPluginConfigDlg::CreateControls() {
    const ZrRegKeyPtr key = ZrOpenHostKey(HostKey, 0);
    const int32_t doNotWrite = ZrReadInt(key.get(), ValueName, 0);
    m_writeTags =
        AddCheckBox(u"Write tags to WAVE/AIFF files (may not be compatible with all players)");
    m_writeTags->SetChecked(doNotWrite == 0);
}

void CWaveAiffPluginConfigDlg::OnOK() {
    if (const ZrRegKeyPtr key = ZrOpenHostKey(HostKey, 0))
        key->SetInt(ValueName, m_writeTags->IsChecked() ? 0 : 1);
    Close(ZrModalOk);
}

bool CWaveAiffPluginConfigDlg::Show() {
    CWaveAiffPluginConfigDlg window;
    return window.DoModal() == ZrModalOk;
}
