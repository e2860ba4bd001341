// The DSD encoder's one setting, declared once for the encoder and its options window.
#pragma once

#include "frame/ZrSetting.h"

#include <cstdint>

// DSD sample rate in Hz. A missing key reads as 0, which no start accepts.
inline constexpr ZrIntSetting DsdSampleRateSetting{u"SampleRate", 2822400, 0};

struct DsdSampleRateChoice {
    const char16_t* Label; // shown in the options window (translated there)
    int32_t Rate;
};

// The four rates, 64, 128, 256 and 512 times 44.1 kHz, in the order the window lists them.
inline constexpr DsdSampleRateChoice DsdSampleRateChoices[] = {
    {u"DSD (64fs / 2.8 MHz)", 2822400},
    {u"Double DSD (128fs / 5.6 MHz)", 5644800},
    {u"Quad DSD (256fs / 11.2 MHz)", 11289600},
    {u"Oct DSD (512fs / 22.4 MHz)", 22579200},
};

inline constexpr bool IsDsdSampleRate(int64_t rate) {
    for (const DsdSampleRateChoice& choice : DsdSampleRateChoices)
        if (choice.Rate == rate)
            return true;
    return false;
}
