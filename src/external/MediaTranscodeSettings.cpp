#include "external/MediaTranscodeSettings.h"

namespace {

struct AudioProfile {
    int32_t Profile;
    int32_t BitsPerSecond;
};

constexpr AudioProfile AudioProfiles[] = {{2, 64000}, {3, 128000}, {4, 320000}};

} // namespace

MediaTranscodeSettings::MediaTranscodeSettings(int32_t profile) {
    SetInt(ProfileKey, profile);
    SetInt(SettopBoxKey, 0);
    SetInt(ChannelsKey, 2);
    SetInt(VolumeLevelingKey, 0);
    SetInt(BitDepthKey, 16);
    SetInt(ExactDurationKey, 0);
    SetInt(DoPOutputKey, 0);
    SetInt(SampleRateKey, 44100);
}

bool MediaTranscodeSettings::IsAudioProfile(int32_t profile) {
    for (const AudioProfile& row : AudioProfiles)
        if (row.Profile == profile)
            return true;
    return false;
}

int32_t MediaTranscodeSettings::AudioBitrate() const {
    const int32_t profile = Profile();
    for (const AudioProfile& row : AudioProfiles)
        if (row.Profile == profile)
            return row.BitsPerSecond;
    return 0;
}

const std::array<const char16_t*, 44>& MediaTranscodeSettings::VideoProfileNames() {
    static constexpr std::array<const char16_t*, 44> names{
        u"Original",
        u"MP4 240p",
        u"MP4 240p AutoFPS",
        u"MP4 480p",
        u"MP4 480p AutoFPS",
        u"MP4 720p",
        u"MP4 720p AutoFPS",
        u"MP4 1080p",
        u"MP4 1080p AutoFPS",
        u"MP4 640W (iPod Medium)",
        u"MPEG2/DVD NTSC Stream",
        u"MPEG2-TS 240p NTSC",
        u"MPEG2-TS 480p NTSC",
        u"MPEG2-TS 720p NTSC",
        u"MPEG2-TS 1080p",
        u"MPEG2/DVD PAL Stream",
        u"MPEG2-TS 240p PAL",
        u"MPEG2-TS 480p PAL",
        u"MPEG2-TS 720p PAL",
        u"MPEG2/DVD AutoFPS Stream",
        u"MPEG2-TS 240p AutoFPS",
        u"MPEG2-TS 480p AutoFPS",
        u"MPEG2-TS 720p AutoFPS",
        u"MPEG2-TS 1080p AutoFPS",
        u"MPEG2/DVD/NTSC stream with MPEG2 Audio",
        u"MPEG2/DVD/PAL stream with MPEG2 Audio",
        u"AVI 720p",
        u"FLV 480p",
        u"3GP (176x144)",
        u"WMV 240p",
        u"WMV 480p",
        u"WMV 720p",
        u"H264-TS 240p",
        u"H264-TS 240p AutoFPS",
        u"H264-TS 480p",
        u"H264-TS 480p AutoFPS",
        u"H264-TS 720p",
        u"H264-TS 720p AutoFPS",
        u"H264-TS 1080p",
        u"H264-TS 1080p AutoFPS",
        u"MKV H264/AAC 240p AutoFPS",
        u"MKV H264/AAC 480p AutoFPS",
        u"MKV H264/AAC 720p AutoFPS",
        u"MKV H264/AAC 1080p AutoFPS",
    };
    return names;
}
