// Message boxes through the host's user-interface service.
#pragma once

#include "foundation/ZrString.h"
#include "tessary/ZrUIService.h"

// Shows a message box (title and text translated); ZrModalOk or ZrModalCancel. Without a host
// that can show it, the text goes to the log and the answer is Cancel.
int32_t ZrMessageBox(const ZrString& title, const ZrString& text, int32_t buttons);
