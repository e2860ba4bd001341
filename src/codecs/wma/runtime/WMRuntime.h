// The Windows Media runtime of this platform: a writer that encodes PCM to Windows Media Audio
// in ASF (libavcodec's wmav2 and libavformat's ASF muxer, opened on first use), a profile manager
// that reads the profile files shipped in "Plugins/WMAProfiles", and a metadata editor that sets
// typed attributes in a finished file's header. The objects are created through ZrWMFactory.
//
// Every operation returns a status, negative on failure; the object's LastErrorText() then says
// what failed and why.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using WMStatus = int32_t;
inline constexpr WMStatus WM_OK = 0;
inline constexpr WMStatus WM_FAIL = static_cast<WMStatus>(0x80004005);
inline constexpr WMStatus WM_INVALIDARG = static_cast<WMStatus>(0x80070057);
inline constexpr WMStatus WM_OUTOFMEMORY = static_cast<WMStatus>(0x8007000E);
inline constexpr WMStatus WM_NOTFOUND = static_cast<WMStatus>(0xC00D07F0);
inline constexpr WMStatus WM_INVALID_PROFILE = static_cast<WMStatus>(0xC00D0BBA);
inline constexpr WMStatus WM_INVALID_FORMAT = static_cast<WMStatus>(0xC00D0BBB);
inline constexpr WMStatus WM_INVALID_STATE = static_cast<WMStatus>(0xC00D0BB3);

inline bool WMFailed(WMStatus status) {
    return status < 0;
}

// The runtime's version, in place of the file version of the system's runtime library.
inline constexpr int WMRuntimeMajorVersion = 11;

// Attribute data types, numbered as the ASF header stores them.
enum class WMAttrType : uint16_t {
    String = 0, // UTF-16LE with its terminating zero
    Binary = 1,
    Bool = 2, // 32 bits, 0 or 1
    DWord = 3,
    QWord = 4,
    Word = 5,
    Guid = 6,
};

// An attribute's value as the header stores it (little-endian).
struct WMAttribute {
    WMAttrType Type = WMAttrType::String;
    std::vector<uint8_t> Value;

    static WMAttribute String(std::u16string_view text);
    static WMAttribute Bool(bool value);
    static WMAttribute DWord(uint32_t value);
    static WMAttribute QWord(uint64_t value);
};

class IWMHeaderInfo {
public:
    virtual ~IWMHeaderInfo() = default;
    // The attribute's type and value; WM_NOTFOUND when the header has none of that name.
    virtual WMStatus GetAttributeByName(uint16_t stream, std::u16string_view name,
                                        WMAttribute& out) = 0;
    // Adds or replaces the attribute; an empty value removes it. Only stream 0 (the whole
    // file) carries named attributes in this runtime.
    virtual WMStatus SetAttribute(uint16_t stream, std::u16string_view name,
                                  const WMAttribute& value) = 0;
};

// One encoding as a profile file describes it.
struct WMProfile {
    std::string Name;
    std::string Codec; // "wmav2", or "wmalossless", which this runtime cannot write
    std::string Mode;  // "cbr", "vbr" or "lossless"
    int64_t BitRate = 0;
    int32_t Quality = 0; // the VBR quality the profile names; 0 for CBR
};

class IWMProfileManager {
public:
    virtual ~IWMProfileManager() = default;
    virtual WMStatus LoadProfileByData(const std::string& text, WMProfile& out) = 0;
    virtual const std::string& LastErrorText() const = 0;
};

// A sample: bytes the writer allocated, filled by the caller.
class INSSBuffer {
public:
    virtual ~INSSBuffer() = default;
    virtual WMStatus GetBufferAndLength(uint8_t** buffer, uint32_t* length) = 0;
};

// The input's media type: major type, subtype and the wave-format record with its extra bytes.
struct WMMediaType {
    enum Major { None, Audio };
    Major MajorType = None;
    bool SubtypePcm = false;
    bool FixedSizeSamples = false;
    bool TemporalCompression = false;
    uint32_t SampleSize = 0;
    bool FormatWaveFormatEx = false;
    std::vector<uint8_t> Format; // WAVEFORMATEX, 18 + its extra-size bytes
};

class IWMInputMediaProps {
public:
    virtual ~IWMInputMediaProps() = default;
    virtual WMStatus GetType(WMMediaType::Major* major) = 0;
    virtual WMStatus SetMediaType(const WMMediaType& type) = 0;
    virtual const WMMediaType& MediaType() const = 0;
};

class IWMWriter {
public:
    virtual ~IWMWriter() = default;
    virtual WMStatus SetProfile(const WMProfile& profile) = 0;
    virtual WMStatus SetOutputFilename(const std::string& path) = 0;
    virtual WMStatus GetInputCount(uint32_t* count) = 0;
    virtual WMStatus GetInputProps(uint32_t input, std::unique_ptr<IWMInputMediaProps>& out) = 0;
    virtual WMStatus SetInputProps(uint32_t input, const IWMInputMediaProps& props) = 0;
    virtual WMStatus BeginWriting() = 0;
    virtual WMStatus AllocateSample(uint32_t bytes, std::unique_ptr<INSSBuffer>& out) = 0;
    // `time`: the sample's presentation time in 100-nanosecond units.
    virtual WMStatus WriteSample(uint32_t input, uint64_t time, uint32_t flags,
                                 INSSBuffer& sample) = 0;
    virtual WMStatus Flush() = 0;
    // Ends the stream and puts the file under its name; until then it lives under a temporary
    // name beside it, which the writer deletes when it goes without having ended.
    virtual WMStatus EndWriting() = 0;
    // The header attributes written with the file (the writer's header-information interface).
    virtual IWMHeaderInfo* HeaderInfo() = 0;
    virtual const std::string& LastErrorText() const = 0;
};

class IWMMetadataEditor {
public:
    virtual ~IWMMetadataEditor() = default;
    virtual WMStatus Open(const std::string& path) = 0;
    // The header-information interfaces of the open file; null before Open.
    virtual IWMHeaderInfo* HeaderInfo() = 0;
    // Whether the editor answers for the version-3 header interface (this runtime always does).
    virtual bool HasHeaderInfo3() const = 0;
    // Saves the changed header into the file (in place when it keeps its size, else through a
    // complete new file that replaces the old one).
    virtual WMStatus Flush() = 0;
    virtual WMStatus Close() = 0;
    virtual const std::string& LastErrorText() const = 0;
};

// The factory the host's Windows Media library stands for: a new one per use.
class ZrWMFactory {
public:
    WMStatus CreateEditor(std::unique_ptr<IWMMetadataEditor>& out);
    WMStatus CreateProfileManager(std::unique_ptr<IWMProfileManager>& out);
    WMStatus CreateWriter(std::unique_ptr<IWMWriter>& out);
};
