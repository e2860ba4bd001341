// The settings of the MP3 encoder, declared once for the encoder and its options window, with
// the mode check both apply before they read them.
#pragma once

#include "external/LameVBRQualityArray.h"
#include "frame/ZrHostLibraries.h"
#include "frame/ZrSetting.h"

#include <array>
#include <cstdint>

namespace Mp3Settings {

// Values of Mode.
inline constexpr int32_t ModeCbrAbr = 0; // the LAME program at a target bit rate
inline constexpr int32_t ModeVbr = 1;    // the LAME program at a VBR quality
inline constexpr int32_t ModeCustom = 2; // the user's own command line
inline constexpr int32_t ModeGoGo = 3;   // Go-Go at a constant bit rate

// Integers read as 0 while missing; the options window shows the defaults instead.
inline constexpr ZrIntSetting Mode{u"Mode", ModeVbr, 0};
inline constexpr ZrIntSetting Bitrate{u"Bitrate", 160, 0};
inline constexpr ZrIntSetting ForceCBR{u"ForceCBR", 0, 0};
inline constexpr ZrIntSetting SpeedBitrate{u"SpeedBitrate", 160, 0};
// Stored by the window's OK only; the defaults leave it out.
inline constexpr ZrIntSetting VBRQualityMode{u"VBRQualityMode",
                                             int32_t{CLameVBRQualityArray::DefaultIndex},
                                             int32_t{CLameVBRQualityArray::DefaultIndex}};
inline constexpr ZrTextSetting CommandLine{u"CommandLine", u"-V 4 --vbr-new", u""};

// Kilobits per second offered for LAME's target and for Go-Go.
inline constexpr std::array<int32_t, 8> LameBitrates{32, 64, 96, 128, 160, 192, 256, 320};
inline constexpr std::array<int32_t, 7> GoGoBitrates{64, 96, 128, 160, 192, 256, 320};

// Every search of a command line ignores case.
inline bool Contains(const ZrString& commandLine, const char16_t* what) {
    return !commandLine.IsEmpty() && ZrFindNoCase(commandLine, what) >= 0;
}
inline bool UsesGoGo(const ZrString& commandLine) {
    return Contains(commandLine, u"gogo.exe");
}

// A VBR line the user edited no longer stands for a quality row: it counts as a custom line.
inline void CheckMode(ZrPropertyMap& settings) {
    if (Mode.Get(settings) == ModeVbr && CLameVBRQualityArray().Find(CommandLine.Get(settings)) < 0)
        Mode.Set(settings, ModeCustom);
}

} // namespace Mp3Settings
