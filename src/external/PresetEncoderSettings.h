// The settings the Musepack and Ogg Vorbis encoders share: a quality preset from a five-row
// table, or a command line of the user's own. Declared once for the encoders and their windows.
#pragma once

#include "frame/ZrSetting.h"

#include <array>
#include <cstdint>

struct ZrPresetRow {
    const char16_t* Name;   // shown in the options window (translated there)
    const char16_t* Switch; // what the row puts on the program's command line
    const char16_t* Kbps;   // the estimated bit rate, as text
};

struct ZrPresetSettings {
    static constexpr int32_t ModeNormal = 0;
    static constexpr int32_t ModeCustom = 1;

    ZrIntSetting Mode;
    ZrIntSetting Quality;
    ZrTextSetting CommandLine;
    std::array<ZrPresetRow, 5> Rows;
    // The help text under the "Custom" choice of the options window.
    const char16_t* CustomText;

    // A quality outside the table is read as the default row.
    const ZrPresetRow& Row(int32_t quality) const {
        return quality >= 0 && quality < static_cast<int32_t>(Rows.size()) ? Rows[quality]
                                                                           : Rows[Quality.Default];
    }
    void Save(ZrPropertyMap& map) const {
        Mode.Save(map);
        Quality.Save(map);
        CommandLine.Save(map);
    }
};
