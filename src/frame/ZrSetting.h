// One declaration per encoder setting, read by SaveSettings, LoadSettings and the options
// window alike, so that defaults never drift apart.
#pragma once

#include <cstdint>

#include "foundation/ZrString.h"
#include "frame/ZrPropertyMap.h"

struct ZrIntSetting {
    const char16_t* Key;
    int32_t Default; // what SaveSettings stores
    int32_t Absent;  // what a read gives while the key is missing from the map

    int32_t Get(const ZrPropertyMap& map) const { return map.GetInt(Key, Absent); }
    void Save(ZrPropertyMap& map) const { map.SetInt(Key, Default); }
    void Set(ZrPropertyMap& map, int32_t value) const { map.SetInt(Key, value); }
};

struct ZrTextSetting {
    const char16_t* Key;
    const char16_t* Default;
    const char16_t* Absent;

    ZrString Get(const ZrPropertyMap& map) const {
        ZrString out;
        return map.GetString(out, Key, Absent);
    }
    void Save(ZrPropertyMap& map) const { map.Set(Key, Default); }
    void Set(ZrPropertyMap& map, const ZrString& value) const { map.Set(Key, value.View()); }
};
