// A key object of the settings store (IZrRegKey): a path in one tree of the store.
//
// Its changes form one batch: this process reads them at once, and they are written to the
// file together when the key is released (ZrSettingsStore: Stage, Commit). A write fails at
// once when the store cannot be written; a failure of the final write is logged.
//
// The key need not exist: reading a missing key gives absent values and no subkeys, and the
// first write creates it with its parents. A null name is the key's unnamed value (""), a
// null text an empty one. GetString of an integer value gives its decimal text; GetInt of a
// text value fails. DeleteSubKey accepts a relative path ("A\B") and fails when it is absent.
// Subkeys enumerate in case-insensitive alphabetical order, values in the order they were
// first written.
#pragma once

#include "tessary/ZrTools.h"
#include "tools/ZrStoreFormat.h"

#include <string>
#include <vector>

class ZrSettingsStore;

class ZrRegKey final : public IZrRegKey {
public:
    ZrRegKey(ZrSettingsStore& store, std::vector<std::u16string> path);
    ~ZrRegKey(); // writes the key's changes

    void Release() override;
    void Prepare() override;
    bool SetInt(const char16_t* name, int32_t value) override;
    bool SetString(const char16_t* name, const char16_t* value) override;
    bool DeleteSubKey(const char16_t* name) override;
    bool GetInt(const char16_t* name, int32_t* value) override;
    ZrSysString GetString(const char16_t* name) override;
    bool DeleteValue(const char16_t* name) override;
    ZrSysString EnumSubKey(uint32_t index) override;
    ZrSysString EnumValue(uint32_t index) override;

    // Creates the key when it is missing; false when it is missing and cannot be created.
    bool Create();

private:
    bool SetValue(ZrStoreValue value);

    ZrSettingsStore& m_store;
    const std::vector<std::u16string> m_path;
};
