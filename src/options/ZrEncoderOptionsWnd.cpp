#include "options/ZrEncoderOptionsWnd.h"

#include "frame/ZrHostLibraries.h"

ZrString ZrEncoderOptionsWnd::GetTitle() {
    if (!m_encoder)
        return ZrString();
    return ZrTakeSysString(m_encoder->GetProperty(u"Display Name"));
}
