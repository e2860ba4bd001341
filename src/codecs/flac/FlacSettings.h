// The FLAC encoder's settings, declared once for the encoder and its options window.
#pragma once

#include "frame/ZrSetting.h"

#include <cstdint>

namespace FlacSettings {

// Key, value that SaveSettings stores, value read while the key is missing. A map that was
// never given a settings text therefore encodes at level 0 with nothing extra.
inline constexpr ZrIntSetting Quality{u"Quality", 6, 0}; // compression level
inline constexpr ZrIntSetting Verify{u"Verify", 0, 0};   // decode each frame again and compare
inline constexpr ZrIntSetting AddPB{u"AddPB", 1, 0};     // 4096-byte PADDING block
inline constexpr ZrIntSetting AddST{u"AddST", 1, 0};     // SEEKTABLE when the length is known
inline constexpr ZrIntSetting Ogg{u"Ogg", 0, 0};         // Ogg transport, extension "ogg"

// In the order SaveSettings writes them: within one hash bucket of the settings map the first
// written comes first, and hosts compare settings texts byte for byte.
inline constexpr const ZrIntSetting* All[] = {&Quality, &Verify, &AddPB, &AddST, &Ogg};

// Compression levels the library offers (0 fastest, 8 smallest).
inline constexpr int32_t MinQuality = 0;
inline constexpr int32_t MaxQuality = 8;
inline constexpr int32_t RecommendedQuality = 6;

} // namespace FlacSettings
