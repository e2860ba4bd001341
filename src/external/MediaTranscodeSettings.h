// A transcoding target described by its profile number, as a settings map: the number, the
// audio format the target wants and its audio bit rate.
//
// Profiles 2, 3 and 4 are the audio-only targets (MP3 at 64, 128 and 320 kbit/s). The video
// profiles are listed by name; what each of them wants of the video is not used by any encoder
// here.
#pragma once

#include "frame/ZrPropertyMap.h"

#include <array>
#include <cstdint>

class MediaTranscodeSettings : public ZrPropertyMap {
public:
    static constexpr const char16_t* ProfileKey = u"MediaTranscodeProfile";
    static constexpr const char16_t* SettopBoxKey = u"DestinationIsSettopBox";
    static constexpr const char16_t* ChannelsKey = u"NumChannels";
    static constexpr const char16_t* VolumeLevelingKey = u"VolumeLeveling";
    static constexpr const char16_t* BitDepthKey = u"AudioBitDepth";
    static constexpr const char16_t* ExactDurationKey = u"AudioExactDurationSeconds";
    static constexpr const char16_t* DoPOutputKey = u"DoPOutput";
    static constexpr const char16_t* SampleRateKey = u"AudioSampleRate";

    // The settings of an audio target: two channels of 16 bits at 44100 Hz, no leveling.
    explicit MediaTranscodeSettings(int32_t profile);

    int32_t Profile() const { return GetInt(ProfileKey, -1); }
    // Bits per second of the profile's audio; 0 for a profile without an audio row.
    int32_t AudioBitrate() const;

    static bool IsAudioProfile(int32_t profile);

    // The video profiles in their order.
    static const std::array<const char16_t*, 44>& VideoProfileNames();
};
