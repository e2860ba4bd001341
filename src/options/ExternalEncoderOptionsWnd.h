// The external encoder's options: the program, its command-line template and the output's
// extension; choosing a known program fills in its template.
#pragma once

#include "options/ZrEncoderOptionsWnd.h"

class CExternalEncoderOptionsWnd : public ZrEncoderOptionsWnd {
public:
    using ZrEncoderOptionsWnd::ZrEncoderOptionsWnd;

    int32_t GetWidth() override { return ScaleLength(ZrOptionsWidth::External); }
    void CreateControls() override;
    void UpdateControls() override;
    void OnOK() override;

private:
    ZrEditBox* m_program = nullptr;
    ZrEditBox* m_parameters = nullptr;
    ZrEditBox* m_extension = nullptr;
    ZrCheckBox* m_longFilenames = nullptr;
    ZrCheckBox* m_sourceAsIs = nullptr;
    ZrCheckBox* m_hideWindow = nullptr;
    ZrEditBox* m_bitrate = nullptr;
    ZrString m_shownProgram; // the path the template was last matched against
};
