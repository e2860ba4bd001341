#include "ui/ZrUIServiceImpl.h"

#include "foundation/ZrUtf.h"

namespace {

std::string Utf8(const char16_t* text) {
    return text ? ZrUtf16ToUtf8(std::u16string_view(text)) : std::string();
}

} // namespace

int32_t ZrUIServiceImpl::RunModal(IZrForm* form, void*) {
    if (!form)
        return ZrModalCancel;
    const std::unique_ptr<IZrFormRenderer> renderer = CreateTerminalRenderer();
    if (!renderer) {
        // Nothing can be shown: the window closes as Cancel at once.
        form->OnCancelPressed();
        return ZrModalCancel;
    }
    return renderer->RunForm(*form);
}

int32_t ZrUIServiceImpl::MessageBox(const char16_t* title, const char16_t* text, int32_t buttons) {
    const std::unique_ptr<IZrFormRenderer> renderer = CreateTerminalRenderer();
    return renderer ? renderer->ShowMessage(Utf8(title), Utf8(text), buttons) : ZrModalCancel;
}

IZrUIService* ZrToolsUIService() {
    static ZrUIServiceImpl* service = new ZrUIServiceImpl(); // lives as long as the process
    return service;
}
