// The settings of the user-defined external encoder, declared once for the encoder and its
// options window.
#pragma once

#include "frame/ZrSetting.h"

#include <array>

namespace ExternalSettings {

inline constexpr ZrTextSetting ProgramPath{u"Program Path", u"", u""};
// The command-line template; "%IN" and "%OUT" (any case) stand for the file names.
inline constexpr ZrTextSetting ProgramParameters{u"Program Parameters", u"", u""};
inline constexpr ZrTextSetting TargetExtension{u"Target File Extension", u"", u""};
inline constexpr ZrIntSetting LongFilenames{u"Support Long Filenames", 0, 0};
inline constexpr ZrIntSetting SourceAsIs{u"Use source file as-is", 0, 0};
inline constexpr ZrIntSetting HideWindow{u"Hide Command window", 0, 0};
// Kilobits per second for the host's estimate; 0 stands for 1440.
inline constexpr ZrIntSetting Bitrate{u"Bitrate", 0, 0};
inline constexpr int32_t UnknownBitrate = 1440;

// Programs the options window recognises by a name in their path (lower case, first hit wins).
struct KnownProgram {
    const char16_t* Name;
    const char16_t* Parameters;
    const char16_t* Extension;
    bool LongFilenames;
};
inline constexpr std::array<KnownProgram, 6> KnownPrograms = {{
    {u"x3enc", u"%IN %OUT -b128000", u"mp3", false},
    {u"blade", u"-128 -q %IN %OUT", u"mp3", true},
    {u"gogo", u"%IN %OUT -b 128 -nopsy", u"mp3", true},
    {u"lame", u"%IN %OUT -b 128", u"mp3", true},
    {u"mppenc", u"%IN %OUT -v", u"mpc", true},
    {u"wm8eutil", u"-input %IN -output %OUT -profile a128", u"wma", true},
}};

// The first known program named in `path` (compared in lower case); null when none is.
inline const KnownProgram* FindKnownProgram(const ZrString& path) {
    const ZrString lower = path.Lower();
    for (const KnownProgram& program : KnownPrograms)
        if (lower.Find(program.Name) >= 0)
            return &program;
    return nullptr;
}

} // namespace ExternalSettings
