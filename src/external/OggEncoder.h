// COggEncoder: Ogg Vorbis files through the oggenc program, fed a WAV stream on its standard
// input.
#pragma once

#include "external/PresetPipeEncoder.h"

class COggEncoder final : public CPresetPipeEncoder {
public:
    explicit COggEncoder(IZrEncoderCallback* callback);

    ZrString& GetDisplayName(ZrString& out) override { return out = u"Ogg Vorbis"; }
    ZrString& GetExtension(ZrString& out) override { return out = u"ogg"; }
    ZrString CommandLineFor(const ZrString& program) const override;

protected:
    bool CheckJob(ZrString& reason) const override;
};
