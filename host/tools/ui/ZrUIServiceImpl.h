// The tools library's user-interface service: forms and message boxes shown by a renderer.
// The terminal renderer is the one this platform has; a graphical one can be added behind the
// same IZrFormRenderer without touching any window.
#pragma once

#include "tessary/ZrUIService.h"

#include <memory>
#include <string>

class IZrFormRenderer {
public:
    virtual ~IZrFormRenderer() = default;
    // ZrModalOk or ZrModalCancel; the form's buttons have been pressed through the form.
    virtual int32_t RunForm(IZrForm& form) = 0;
    virtual int32_t ShowMessage(const std::string& title, const std::string& text,
                                int32_t buttons) = 0;
};

// A renderer in the terminal on standard input and output, or null when they are not both
// terminals or TESSARY_UI is "none".
std::unique_ptr<IZrFormRenderer> CreateTerminalRenderer();

class ZrUIServiceImpl final : public IZrUIService, public IZrUIMetrics {
public:
    void* FindWindow(void*) override { return nullptr; }
    int32_t RunModal(IZrForm* form, void* owner) override;
    int32_t MessageBox(const char16_t* title, const char16_t* text, int32_t buttons) override;
    IZrUIMetrics* GetMetrics(int32_t) override { return this; }
    // One logical unit is one pixel: the terminal renderer maps 8 pixels to a column.
    int32_t Scale(int32_t length, int32_t) override { return length; }
};

// The process's service, for ZrTools slot 19.
IZrUIService* ZrToolsUIService();
