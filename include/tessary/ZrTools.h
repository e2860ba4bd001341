// The host's tools interface, served by the host's tools library (libZrTools.so).
//
// A plug-in library loads the tools library, calls its entry point GetZrToolsDLL with
// ZrToolsVersion and keeps the returned interface for the life of the process. The order of
// the virtual operations is a binary contract: slots that plug-ins do not call are reserved and
// keep their place. Every object returned by a slot belongs to the tools library unless the slot
// says otherwise; texts returned as ZrSysString belong to the caller (free with SysFreeString).
#pragma once

#include <cstdint>

#include "tessary/SysString.h"

class ZrString;

// The host's log. Categories are bit masks; encoder operations log with ZrLogCategoryEncoder.
class IZrLogger {
public:
    virtual bool IsEnabled(uint32_t category) = 0;
    // One line of the scope named `scope` (for example "CFlacEncoder::StartBufferBased").
    virtual void Write(uint32_t category, const char16_t* scope, const char16_t* text) = 0;

protected:
    ~IZrLogger() = default;
};

inline constexpr uint32_t ZrLogCategoryEncoder = 512;

// Translates user-interface texts in place; a text without a translation stays as it is.
class IZrTranslator {
public:
    virtual void Translate(ZrString& text) = 0;

protected:
    ~IZrTranslator() = default;
};

class IZrProductInfo {
public:
    // Loads the product information. On failure returns false and, when `errorText` is not null,
    // stores a reason there (the caller frees it; null when there is no reason).
    virtual bool Load(const char16_t* name, ZrSysString* errorText) = 0;
    // The host's data folder, without a trailing separator.
    virtual ZrSysString GetDataFolder() = 0;
    // Where a package can be fetched from; null when the host has no download address.
    virtual ZrSysString GetDownloadAddress(const char16_t* package, const char16_t* version,
                                           const char16_t* archiveType) = 0;

protected:
    ~IZrProductInfo() = default;
};

// A key of the host's settings store: integer and text values and subkeys, at the same paths a
// Windows host keeps in its registry. A key object's writes are seen at once in this process
// and reach the store together, durably, when Release returns.
class IZrRegKey {
public:
    virtual void Release() = 0; // closes the key and frees the object
    virtual void Prepare() = 0; // creates the key in the store if it does not exist yet
    virtual bool SetInt(const char16_t* name, int32_t value) = 0;
    virtual bool SetString(const char16_t* name, const char16_t* value) = 0;
    virtual bool DeleteSubKey(const char16_t* name) = 0; // with everything below it
    // False (and `value` untouched) when the value is absent or not an integer.
    virtual bool GetInt(const char16_t* name, int32_t* value) = 0;
    virtual ZrSysString GetString(const char16_t* name) = 0; // null when absent
    virtual bool DeleteValue(const char16_t* name) = 0;
    virtual ZrSysString EnumSubKey(uint32_t index) = 0; // null past the last subkey
    virtual ZrSysString EnumValue(uint32_t index) = 0;  // null past the last value

protected:
    ~IZrRegKey() = default;
};

// The root of the machine-wide tree for OpenKey.
inline constexpr intptr_t ZR_HKEY_LOCAL_MACHINE = static_cast<intptr_t>(0x80000002u);

// Services whose interfaces live in their own headers.
class IZrUIService;
class IZrStringService;
class IZrMainThreadMessages;
class IZrNamedLocks;
class IZrWaitWindow;
class IZrArchiveUnpacker;
class IZrFileLoader;

class ZrTools {
public:
    virtual bool Initialize(void* context, void* module) = 0;            // slot 0
    virtual void Reserved1() {}                                           // slot 1
    virtual void Reserved2() {}                                           // slot 2
    virtual void Uninitialize(void* module) = 0;                          // slot 3
    virtual void OnProductInfoLoaded(intptr_t value) = 0;                 // slot 4
    virtual void Reserved5() {}                                           // slot 5
    virtual void Reserved6() {}                                           // slot 6
    virtual IZrTranslator* GetTranslator(int32_t flag) = 0;               // slot 7
    virtual void Reserved8() {}                                           // slot 8
    virtual IZrProductInfo* GetProductInfo(bool create) = 0;              // slot 9
    virtual IZrLogger* GetLogger(uint32_t flags) = 0;                     // slot 10
    virtual void Reserved11() {}                                          // slot 11
    virtual void Reserved12() {}                                          // slot 12
    virtual void Reserved13() {}                                          // slot 13
    virtual void Reserved14() {}                                          // slot 14
    virtual void Reserved15() {}                                          // slot 15
    virtual void Reserved16() {}                                          // slot 16
    virtual void Reserved17() {}                                          // slot 17
    virtual void Reserved18() {}                                          // slot 18
    virtual IZrUIService* GetUIService(int32_t flag) = 0;                 // slot 19
    virtual void Reserved20() {}                                          // slot 20
    virtual void Reserved21() {}                                          // slot 21
    virtual void Reserved22() {}                                          // slot 22
    virtual void Reserved23() {}                                          // slot 23
    // A key below the host's own tree ("Plugins\Encoders\FLAC Encoder"); null when it cannot be
    // opened. The caller releases it.
    virtual IZrRegKey* OpenHostKey(const char16_t* path, int32_t flag) = 0; // slot 24
    // A key at an absolute path below `root` (ZR_HKEY_LOCAL_MACHINE); the caller releases it.
    virtual IZrRegKey* OpenKey(intptr_t root, const char16_t* path) = 0;    // slot 25
    virtual IZrStringService* GetStringService() = 0;                     // slot 26
    virtual IZrMainThreadMessages* GetMainThreadMessages() = 0;           // slot 27
    virtual IZrNamedLocks* GetNamedLocks() = 0;                           // slot 28
    virtual IZrWaitWindow* GetWaitWindow() = 0;                           // slot 29
    virtual IZrArchiveUnpacker* GetArchiveUnpacker() = 0;                 // slot 30
    virtual IZrFileLoader* GetFileLoader() = 0;                           // slot 31

protected:
    ~ZrTools() = default;
};

inline constexpr int32_t ZrToolsVersion = 200048;

extern "C" {
// The tools library's entry point, exported as GetZrToolsDLL. Returns null for a version it
// does not serve.
typedef ZrTools* (*ZrGetToolsFn)(int32_t version);
}
