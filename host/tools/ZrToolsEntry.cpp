// The tools library's one export.
#include "tessary/ZrTools.h"
#include "tools/ZrToolsService.h"

#include <type_traits>

extern "C" __attribute__((visibility("default"))) ZrTools* GetZrToolsDLL(int32_t version) {
    if (version != ZrToolsVersion)
        return nullptr;
    return &ZrToolsService::Instance();
}

static_assert(std::is_same_v<decltype(&GetZrToolsDLL), ZrGetToolsFn>);
