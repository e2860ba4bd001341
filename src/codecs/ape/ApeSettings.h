// The settings of the Monkey's Audio encoder, declared once for the encoder and its options
// window.
#pragma once

#include "frame/ZrSetting.h"

#include <array>

namespace ApeSettings {

// Compression level of the compressor: 1000 fast, 2000 normal, 3000 high, 4000 extra high.
inline constexpr ZrIntSetting Compression{u"Compression", 2000, 0};

// The levels the encoder offers; LoadSettings turns any other value into the default.
inline constexpr std::array<int32_t, 4> Levels = {1000, 2000, 3000, 4000};

} // namespace ApeSettings
