// The host's product information (ZrTools::GetProductInfo).
//
// Load creates the data folder and fails, with a readable reason, when it cannot. The download
// address of a package is "<base>/<package>_v<version><archive type>" (for example
// "https://example.org/deps/mp3_encoder_v2.zip"), where <base> is the text value "DownloadBase"
// of the host tree's key "Dependencies"; package and version are percent-encoded. Without a
// base there is no address (null), so downloads fail cleanly.
#pragma once

#include "tessary/ZrTools.h"

#include <mutex>
#include <string>
#include <string_view>

class ZrSettingsStore;

class ZrProductInfo final : public IZrProductInfo {
public:
    ZrProductInfo(std::string dataFolder, ZrSettingsStore& hostStore)
        : m_dataFolder(std::move(dataFolder)), m_hostStore(hostStore) {}
    ~ZrProductInfo() = default;

    bool Load(const char16_t* name, ZrSysString* errorText) override;
    ZrSysString GetDataFolder() override;
    ZrSysString GetDownloadAddress(const char16_t* package, const char16_t* version,
                                   const char16_t* archiveType) override;

    // The address for a base (empty when the base or the package is empty).
    static std::string ComposeAddress(std::string_view base, std::string_view package,
                                      std::string_view version, std::string_view archiveType);

private:
    const std::string m_dataFolder;
    ZrSettingsStore& m_hostStore;
    std::mutex m_lock;
};
