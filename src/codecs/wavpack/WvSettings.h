// The five settings of the WavPack encoder, declared once for the encoder and its options
// window: keys, defaults, values when absent and the values LoadSettings keeps.
#pragma once

#include "frame/ZrSetting.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace WvSettings {

// The library's quality flags: normal, fast, high, very high.
inline constexpr int32_t QualityNormal = 0;
inline constexpr int32_t QualityFast = 0x200;
inline constexpr int32_t QualityHigh = 0x800;
inline constexpr int32_t QualityVeryHigh = 0x1000;
inline constexpr std::array<int32_t, 4> QualityValues{QualityNormal, QualityFast, QualityHigh,
                                                      QualityVeryHigh};

inline constexpr const char16_t* TypeLossless = u"Lossless";
inline constexpr const char16_t* TypeHybrid = u"Hybrid"; // compared case-sensitively

inline constexpr int32_t MaxExtraProcessing = 6;

// Hybrid target bit rates in kilobits per second.
inline constexpr std::array<int32_t, 17> BitrateValues{
    32, 64, 96, 128, 160, 192, 256, 320, 384, 512, 640, 768, 1024, 1280, 1536, 2048, 2560};

inline constexpr ZrIntSetting Compression{u"Compression", QualityNormal, QualityNormal};
// An absent type (empty text) means lossless.
inline constexpr ZrTextSetting CompressionType{u"Compression Type", TypeLossless, u""};
inline constexpr ZrIntSetting ExtraProcessing{u"Extra Encode Processing", 0, 0};
inline constexpr ZrIntSetting TargetBitrate{u"Target Bitrate", 256, 0};
inline constexpr ZrIntSetting CorrectionFile{u"Correction File", 1, 0};

template <size_t N>
constexpr bool IsOneOf(int32_t value, const std::array<int32_t, N>& allowed) {
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

} // namespace WvSettings
