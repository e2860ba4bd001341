// The Windows Media encoder's settings and its profile tables, declared once for the encoder and
// its options window.
#pragma once

#include "frame/ZrSetting.h"

#include <cstdint>
#include <span>

namespace WmaSettings {

inline constexpr int32_t ModeCbr = 0;
inline constexpr int32_t ModeVbr = 1;
inline constexpr int32_t ModeLossless = 2;

// Key, value that SaveSettings stores, value read while the key is missing.
inline constexpr ZrIntSetting Mode{u"Mode", ModeVbr, ModeCbr};
inline constexpr ZrIntSetting CbrBitrate{u"CBR Bitrate", 5, 0}; // index into CbrProfiles
inline constexpr ZrIntSetting VbrBitrate{u"VBR Bitrate", 3, 0}; // index into VbrProfiles
inline constexpr ZrIntSetting Security{u"Security", 0, 0};      // mark for rights management

inline constexpr const ZrIntSetting* All[] = {&Mode, &CbrBitrate, &VbrBitrate, &Security};

struct Profile {
    const char16_t* Label; // shown in the options window
    const char* File;      // in the program directory's "Plugins/WMAProfiles"
    int32_t Kbps;          // the estimated bit rate
};

inline constexpr Profile CbrProfiles[] = {
    {u"48", "48cbr.xml", 48},    {u"64", "64cbr.xml", 64},    {u"96", "96cbr.xml", 96},
    {u"128", "128cbr.xml", 128}, {u"160", "160cbr.xml", 160}, {u"192", "192cbr.xml", 192},
    {u"256", "256cbr.xml", 256}, {u"320", "320cbr.xml", 320},
};
inline constexpr Profile VbrProfiles[] = {
    {u"Low", "Lvbr.xml", 128},    {u"Normal/Low", "NLvbr.xml", 160},
    {u"Normal", "Nvbr.xml", 192}, {u"Normal/High", "NHvbr.xml", 256},
    {u"High", "Hvbr.xml", 320},
};
inline constexpr int32_t LosslessKbps = 750;
// Any other mode.
inline constexpr int32_t OtherKbps = 128;

// The table of a mode (empty for lossless and unknown modes).
inline constexpr std::span<const Profile> ProfilesOf(int32_t mode) {
    if (mode == ModeCbr)
        return CbrProfiles;
    if (mode == ModeVbr)
        return VbrProfiles;
    return {};
}

} // namespace WmaSettings
