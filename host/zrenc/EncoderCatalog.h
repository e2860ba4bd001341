// The encoders zrenc can reach: the shipped plug-in library, its registration in the settings
// store, and the names a user may give on the command line.
#pragma once

#include "foundation/ZrString.h"
#include "frame/ZrEncoderFactory.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace zrenc {

// The twelve factory indices and the short names users type for them.
struct EncoderKind {
    int32_t index;
    const char* shortName;
    bool lossless; // what the encoder keeps with its default settings
};
extern const std::array<EncoderKind, ZrEncoderCount> EncoderKinds;
const EncoderKind* KindByShortName(const std::string& name);

// The plug-in library shipped with zrenc. It stays loaded for the life of the process, so that
// jobs that come and go do not load and unload it each time; it is never closed, because what
// its static objects hold must stay reachable until the process ends.
class PluginLibrary {
public:
    static constexpr const char* FileName = "libzrencoders.so";
    // Looks in $TESSARY_PROGRAM_DIR, then in `folders`. False with a reason when none loads.
    bool Load(const std::vector<std::string>& folders, std::string& error);
    const std::string& Path() const { return m_path; }
    // The library's DllRegisterServer / DllUnregisterServer.
    bool Register(std::string& error) const;
    bool Unregister(std::string& error) const;

private:
    bool Call(const char* name, std::string& error) const;
    void* m_module = nullptr;
    std::string m_path;
};

// One registered encoder as CEncoderPlugin finds it.
struct Registration {
    ZrString name;
    ZrString path;
    int32_t index = 0;
    bool shipped = false; // the path is the shipped library
    bool usable() const { return !path.IsEmpty(); }
};

class EncoderCatalog {
public:
    // Reads every registration below "Plugins\Encoders" of the host's tree and of the machine
    // tree, the way CEncoderPlugin reads one.
    EncoderCatalog(const std::string& shippedPath, const ZrString& profile);

    // Whether any key of either tree names the shipped library in its "Path", whatever its
    // interface version: a library that appears nowhere has never been registered.
    bool MentionsShippedLibrary() const { return m_mentioned; }
    // The shipped library's encoder with this index.
    const Registration* ByIndex(int32_t index) const;
    // An index, a short name or a display name (any case). Null with a reason in `error`;
    // `unknown` tells a name that means nothing from an encoder that is not registered.
    const Registration* Resolve(const std::string& text, std::string& error, bool& unknown) const;

private:
    std::vector<Registration> m_registrations;
    bool m_mentioned = false;
};

} // namespace zrenc
