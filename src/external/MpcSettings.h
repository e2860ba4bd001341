// The Musepack encoder's settings and quality table.
#pragma once

#include "external/PresetEncoderSettings.h"

inline constexpr ZrPresetSettings MpcSettings{
    {u"Mode", ZrPresetSettings::ModeNormal, ZrPresetSettings::ModeNormal},
    {u"Quality", 2, 2},
    {u"Command Line", u"--standard", u"--standard"},
    {{{u"Thumb", u"--thumb", u"72"},
      {u"Radio", u"--radio", u"132"},
      {u"Standard", u"--standard", u"163"},
      {u"Xtreme", u"--xtreme", u"190"},
      {u"Insane", u"--insane", u"220"}}},
    u"Enter a custom command line that will be passed to the MPC encoder.",
};
