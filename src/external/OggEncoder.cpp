#include "external/OggEncoder.h"

#include "external/DependencyInstaller.h"
#include "external/OggSettings.h"
#include "frame/ZrEncoderFactory.h"

#include <array>

namespace {

constexpr CPresetPipeEncoder::ScopeNames Names{
    u"COggEncoder::StartBufferBased", u"COggEncoder::EncodeBuffer",
    u"COggEncoder::FinishBufferBased", u"COggEncoder::Options", u"COggEncoder::CheckDependencies"};

// libvorbis has no quality setup above this rate.
constexpr uint32_t MaxRate = 200000;
constexpr uint32_t MaxChannels = 255;

// The program reads 3 to 8 channels of a WAV stream in these orders and maps them to the order
// Vorbis defines; the stream carries no channel mask, so a source in another order would come
// out on the wrong speakers. Side and back pairs are the same rear pair to Vorbis.
struct WavOrder {
    uint32_t Mask;
    uint32_t SideMask;
    const char* Speakers;
};
constexpr std::array<WavOrder, 6> WavOrders{{
    {0x7, 0x7, "front left, front right, centre"},
    {0x33, 0x603, "front left, front right, rear left, rear right"},
    {0x37, 0x607, "front left, front right, centre, rear left, rear right"},
    {0x3F, 0x60F, "front left, front right, centre, LFE, rear left, rear right"},
    {0x70F, 0x70F, "front left, front right, centre, LFE, back centre, side left, side right"},
    {0x63F, 0x63F,
     "front left, front right, centre, LFE, back left, back right, side left, side right"},
}};

} // namespace

IZrEncoder* CreateOggEncoder(IZrEncoderCallback* callback) {
    return new COggEncoder(callback);
}

COggEncoder::COggEncoder(IZrEncoderCallback* callback)
    : CPresetPipeEncoder(callback, Names, OggSettings, DependencyInstaller::OggEnc,
                         ZrEncoderIndex::Ogg) {}

ZrString COggEncoder::CommandLineFor(const ZrString& program) const {
    ZrString switches = PresetSwitches();
    if (OggSettings.Mode.Get(Settings) == ZrPresetSettings::ModeCustom) {
        // Quiet is always on, and raw input would read the WAV header as audio.
        switches.Replace(u" -Q", u"");
        switches.Replace(u" -r", u"");
    }
    return u"\"" + program + u"\" -Q " + switches + u" - -o \"" + DestinationFilename + u"\"";
}

bool COggEncoder::CheckJob(ZrString& reason) const {
    const std::string name = ProgramName().ToUtf8();
    const unsigned bits = Format.BitsPerSample;
    if (!Format.IsIntegerPcm() || (bits != 8 && bits != 16 && bits != 24)) {
        reason = ZrString::Format("%s takes integer PCM of 8, 16 or 24 bits only; the source has "
                                  "%u-bit %s samples",
                                  name.c_str(), bits,
                                  Format.IsIntegerPcm() ? "integer" : "floating-point or coded");
        return false;
    }
    if (Format.Channels < 1 || Format.Channels > MaxChannels) {
        reason = ZrString::Format("Ogg Vorbis takes 1 to %u channels; the source has %u",
                                  MaxChannels, unsigned{Format.Channels});
        return false;
    }
    if (Format.SamplesPerSec < 1 || Format.SamplesPerSec > MaxRate) {
        reason = ZrString::Format("Ogg Vorbis (%s) takes sample rates up to %u Hz; the source "
                                  "has %u Hz",
                                  name.c_str(), MaxRate, unsigned{Format.SamplesPerSec});
        return false;
    }
    if (Format.Channels >= 3 && Format.Channels <= 8 && Format.ChannelMask != 0) {
        const WavOrder& order = WavOrders[Format.Channels - 3];
        if (Format.ChannelMask != order.Mask && Format.ChannelMask != order.SideMask) {
            reason = ZrString::Format("%s takes %u channels only in the order %s; the source's "
                                      "channel mask is 0x%X",
                                      name.c_str(), unsigned{Format.Channels}, order.Speakers,
                                      Format.ChannelMask);
            return false;
        }
    }
    return true;
}
