// The WAV encoder's window: one host setting read by the host's own WAV and AIFF handling.
#pragma once

#include "options/ZrPopupWnd.h"

class CWaveAiffPluginConfigDlg : public ZrFixedSizeOkCancelPopupWnd {
public:
    static constexpr const char16_t* HostKey = u"Plugins\\Input\\WAV";
    static constexpr const char16_t* ValueName = u"DoNotWriteTagsToFiles";

    ZrString GetTitle() override;
    void CreateControls() override;
    void OnOK() override;

    // Shows the window; true when it was closed with OK.
    static bool Show();

private:
    ZrCheckBox* m_writeTags = nullptr;
};
