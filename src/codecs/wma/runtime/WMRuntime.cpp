// The profile manager, the metadata editor and the factory of the runtime.
#include "codecs/wma/runtime/WMRuntime.h"

#include "codecs/wma/runtime/AsfHeader.h"
#include "codecs/wma/runtime/WMWriter.h"

#include <charconv>
#include <new>

namespace {

// --- Profile files ---------------------------------------------------------------------------
//
// A profile file is one XML element whose attributes name the encoding:
//   <profile name="192 kbps CBR" codec="wmav2" mode="cbr" bitrate="192000" quality="0"/>
// preceded by an optional XML declaration and comments.

class CWMProfileManager final : public IWMProfileManager {
public:
    WMStatus LoadProfileByData(const std::string& text, WMProfile& out) override;
    const std::string& LastErrorText() const override { return m_error; }

private:
    WMStatus Fail(std::string text) {
        m_error = "invalid profile: " + std::move(text);
        return WM_INVALID_PROFILE;
    }
    std::string m_error;
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

WMStatus CWMProfileManager::LoadProfileByData(const std::string& text, WMProfile& out) {
    m_error.clear();
    size_t at = 0;
    // Declarations and comments before the element.
    for (;;) {
        while (at < text.size() && IsSpace(text[at]))
            ++at;
        if (text.compare(at, 4, "<!--") == 0) {
            const size_t end = text.find("-->", at + 4);
            if (end == std::string::npos)
                return Fail("unterminated comment");
            at = end + 3;
        } else if (text.compare(at, 2, "<?") == 0) {
            const size_t end = text.find("?>", at + 2);
            if (end == std::string::npos)
                return Fail("unterminated declaration");
            at = end + 2;
        } else {
            break;
        }
    }
    if (text.compare(at, 8, "<profile") != 0 || at + 8 >= text.size() ||
        !(IsSpace(text[at + 8]) || text[at + 8] == '/' || text[at + 8] == '>'))
        return Fail("no <profile> element");
    at += 8;
    WMProfile profile;
    bool haveCodec = false, haveMode = false, haveRate = false;
    for (;;) {
        while (at < text.size() && IsSpace(text[at]))
            ++at;
        if (at >= text.size())
            return Fail("unterminated <profile> element");
        if (text[at] == '/' || text[at] == '>')
            break;
        const size_t equals = text.find('=', at);
        if (equals == std::string::npos || equals + 1 >= text.size() ||
            (text[equals + 1] != '"' && text[equals + 1] != '\''))
            return Fail("malformed attribute");
        std::string name = text.substr(at, equals - at);
        while (!name.empty() && IsSpace(name.back()))
            name.pop_back();
        const size_t close = text.find(text[equals + 1], equals + 2);
        if (close == std::string::npos)
            return Fail("unterminated attribute \"" + name + "\"");
        const std::string value = text.substr(equals + 2, close - equals - 2);
        at = close + 1;
        auto number = [&](auto& field) {
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), field);
            return error == std::errc() && end == value.data() + value.size();
        };
        if (name == "name") {
            profile.Name = value;
        } else if (name == "codec") {
            profile.Codec = value;
            haveCodec = true;
        } else if (name == "mode") {
            profile.Mode = value;
            haveMode = true;
        } else if (name == "bitrate") {
            if (!number(profile.BitRate) || profile.BitRate < 0)
                return Fail("bitrate \"" + value + "\" is not a number");
            haveRate = true;
        } else if (name == "quality") {
            if (!number(profile.Quality))
                return Fail("quality \"" + value + "\" is not a number");
        }
    }
    if (!haveCodec || !haveMode || !haveRate)
        return Fail("the <profile> element needs codec, mode and bitrate");
    if (profile.Mode != "cbr" && profile.Mode != "vbr" && profile.Mode != "lossless")
        return Fail("unknown mode \"" + profile.Mode + "\"");
    out = std::move(profile);
    return WM_OK;
}

// --- Metadata editor -------------------------------------------------------------------------

class CWMMetadataEditor final : public IWMMetadataEditor, private IWMHeaderInfo {
public:
    WMStatus Open(const std::string& path) override {
        m_error.clear();
        m_open = m_header.Load(path);
        m_path = path;
        if (!m_open) {
            m_error = m_header.ErrorText();
            return WM_INVALID_FORMAT;
        }
        return WM_OK;
    }
    IWMHeaderInfo* HeaderInfo() override { return m_open ? this : nullptr; }
    bool HasHeaderInfo3() const override { return true; }
    WMStatus Flush() override {
        if (!m_open)
            return Fail(WM_INVALID_STATE, "no file is open");
        if (!m_header.Save(m_path))
            return Fail(WM_FAIL, m_header.ErrorText());
        return WM_OK;
    }
    WMStatus Close() override {
        m_open = false;
        return WM_OK;
    }
    const std::string& LastErrorText() const override { return m_error; }

private:
    WMStatus GetAttributeByName(uint16_t stream, std::u16string_view name,
                                WMAttribute& out) override {
        const WMAttribute* found = stream == 0 && m_open ? m_header.Find(name) : nullptr;
        if (!found)
            return WM_NOTFOUND;
        out = *found;
        return WM_OK;
    }
    WMStatus SetAttribute(uint16_t stream, std::u16string_view name,
                          const WMAttribute& value) override {
        if (!m_open)
            return Fail(WM_INVALID_STATE, "no file is open");
        if (stream != 0 || name.empty() || name.size() > 0x7FFE || value.Value.size() > 0xFFFF)
            return Fail(WM_INVALIDARG, "this runtime stores named attributes of up to 64 KiB "
                                       "for the whole file (stream 0) only");
        m_header.Set(name, value);
        return WM_OK;
    }
    WMStatus Fail(WMStatus status, std::string text) {
        m_error = std::move(text);
        return status;
    }

    CAsfHeader m_header;
    std::string m_path;
    bool m_open = false;
    std::string m_error;
};

template <typename Interface, typename Object>
WMStatus Make(std::unique_ptr<Interface>& out) {
    out.reset(new (std::nothrow) Object());
    return out ? WM_OK : WM_OUTOFMEMORY;
}

} // namespace

WMStatus ZrWMFactory::CreateEditor(std::unique_ptr<IWMMetadataEditor>& out) {
    return Make<IWMMetadataEditor, CWMMetadataEditor>(out);
}

WMStatus ZrWMFactory::CreateProfileManager(std::unique_ptr<IWMProfileManager>& out) {
    return Make<IWMProfileManager, CWMProfileManager>(out);
}

WMStatus ZrWMFactory::CreateWriter(std::unique_ptr<IWMWriter>& out) {
    return Make<IWMWriter, CWMWriter>(out);
}
