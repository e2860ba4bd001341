// The Ogg Vorbis encoder's settings and quality table.
#pragma once

#include "external/PresetEncoderSettings.h"

inline constexpr ZrPresetSettings OggSettings{
    {u"Mode", ZrPresetSettings::ModeNormal, ZrPresetSettings::ModeNormal},
    {u"Quality", 2, 2},
    {u"Command Line", u"-q 4.99", u"-q 4.99"},
    {{{u"Low", u"-q 1", u"128"},
      {u"Normal/Low", u"-q 3", u"160"},
      {u"Normal", u"-q 5", u"192"},
      {u"Normal/High", u"-q 7", u"256"},
      {u"High", u"-q 10", u"320"}}},
    u"Enter a custom command line that will be passed to the OGG encoder.",
};
