#include "options/ZrMessageBox.h"

#include "foundation/ZrLog.h"
#include "frame/ZrHostLibraries.h"

int32_t ZrMessageBox(const ZrString& title, const ZrString& text, int32_t buttons) {
    const ZrString shownTitle = ZrTranslate(title);
    const ZrString shownText = ZrTranslate(text);
    ZrTools* tools = GetTools(false);
    IZrUIService* service = tools ? tools->GetUIService(1) : nullptr;
    if (!service) {
        ZrLogLine(u"ZrMessageBox", shownTitle + u": " + shownText);
        return ZrModalCancel;
    }
    return service->MessageBox(shownTitle.c_str(), shownText.c_str(), buttons);
}
