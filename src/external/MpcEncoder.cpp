#include "external/MpcEncoder.h"

#include "external/DependencyInstaller.h"
#include "external/MpcSettings.h"
#include "foundation/ZrFileSystem.h"
#include "frame/ZrEncoderFactory.h"

#include <sys/stat.h>

namespace {

constexpr CPresetPipeEncoder::ScopeNames Names{
    u"CMpcEncoder::StartBufferBased", u"CMpcEncoder::EncodeBuffer",
    u"CMpcEncoder::FinishBufferBased", u"CMpcEncoder::Options", u"CMpcEncoder::CheckDependencies"};

bool IsMpcRate(uint32_t rate) {
    return rate == 32000 || rate == 37800 || rate == 44100 || rate == 48000;
}

} // namespace

IZrEncoder* CreateMpcEncoder(IZrEncoderCallback* callback) {
    return new CMpcEncoder(callback);
}

CMpcEncoder::CMpcEncoder(IZrEncoderCallback* callback)
    : CPresetPipeEncoder(callback, Names, MpcSettings, DependencyInstaller::MpcEnc,
                         ZrEncoderIndex::Mpc) {}

ZrString CMpcEncoder::CommandLineFor(const ZrString& program) const {
    return u"\"" + program + u"\" " + PresetSwitches() + u" --silent - \"" + DestinationFilename +
           u"\"";
}

ZrString CMpcEncoder::MissingProgramText(const ZrString& program) {
    const int64_t slash = program.ReverseFind(u'/');
    const ZrString file = slash < 0 ? program : program.Mid(static_cast<size_t>(slash) + 1);
    return ZrString::Format("Can't find %s file. Please copy it to this folder:\r\n%s",
                            file.ToUtf8().c_str(),
                            ZrFileSystem::FolderOf(program).ToUtf8().c_str());
}

bool CMpcEncoder::CheckProgramExists(const ZrString& program, ZrString& reason) const {
    struct stat info {};
    if (::stat(program.ToUtf8().c_str(), &info) == 0)
        return true;
    reason = MissingProgramText(program);
    return false;
}

// mpcenc ends with success when its writes fail. A finished stream ends with its stream-end
// packet: the key "SE" and the packet's size, 3.
bool CMpcEncoder::EndsWhole(const std::vector<uint8_t>& tail) const {
    return tail.size() == 3 && tail[0] == 'S' && tail[1] == 'E' && tail[2] == 3;
}

bool CMpcEncoder::CheckJob(ZrString& reason) const {
    const std::string name = ProgramName().ToUtf8();
    if (!Format.IsIntegerPcm() || Format.BitsPerSample < 8 || Format.BitsPerSample > 32) {
        reason =
            ZrString::Format("%s takes integer PCM of 8 to 32 bits only; the source has %u-bit "
                             "%s samples",
                             name.c_str(), unsigned{Format.BitsPerSample},
                             Format.IsIntegerPcm() ? "integer" : "floating-point or coded");
        return false;
    }
    // More channels are not refused by the program: it keeps the first two and drops the rest.
    if (Format.Channels < 1 || Format.Channels > 2) {
        reason = ZrString::Format("Musepack (%s) takes 1 or 2 channels only; the source has %u",
                                  name.c_str(), unsigned{Format.Channels});
        return false;
    }
    if (!IsMpcRate(Format.SamplesPerSec)) {
        reason = ZrString::Format("Musepack (%s) takes the sample rates 32000, 37800, 44100 and "
                                  "48000 Hz only; the source has %u Hz",
                                  name.c_str(), unsigned{Format.SamplesPerSec});
        return false;
    }
    // Any other name is read as one more input file.
    if (!DestinationFilename.EndsWithNoCase(u".mpc") &&
        !DestinationFilename.EndsWithNoCase(u".mp+") &&
        !DestinationFilename.EndsWithNoCase(u".mpp")) {
        reason = ZrString::Format("%s writes only files named *.mpc, *.mp+ or *.mpp, not \"%s\"",
                                  name.c_str(), DestinationFilename.ToUtf8().c_str());
        return false;
    }
    return true;
}
