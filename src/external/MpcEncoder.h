// CMpcEncoder: Musepack files through the mpcenc program, fed a WAV stream on its standard
// input.
#pragma once

#include "external/PresetPipeEncoder.h"

class CMpcEncoder final : public CPresetPipeEncoder {
public:
    explicit CMpcEncoder(IZrEncoderCallback* callback);

    ZrString& GetDisplayName(ZrString& out) override { return out = u"Musepack (MPC)"; }
    ZrString& GetExtension(ZrString& out) override { return out = u"mpc"; }
    ZrString CommandLineFor(const ZrString& program) const override;

    // "Can't find <file> file. Please copy it to this folder:\r\n<folder>".
    static ZrString MissingProgramText(const ZrString& program);

protected:
    bool CheckJob(ZrString& reason) const override;
    bool CheckProgramExists(const ZrString& program, ZrString& reason) const override;
    bool EndsWhole(const std::vector<uint8_t>& tail) const override;
    size_t TailBytes() const override { return 3; }
};
