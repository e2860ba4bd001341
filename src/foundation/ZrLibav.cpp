#include "foundation/ZrLibav.h"

namespace {

// The major versions the headers describe: their ABI is the one compiled against.
ZrLibav& Process() {
    static ZrLibav table("libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
                         "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
                         "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
                         "libswresample.so." AV_STRINGIFY(LIBSWRESAMPLE_VERSION_MAJOR));
    return table;
}

} // namespace

const ZrLibav* ZrLibav::Open(Library library, std::string* why) {
    ZrLibav& table = Process();
    std::string error = table.Load(library);
    if (error.empty())
        return &table;
    if (why)
        *why = std::move(error);
    return nullptr;
}

const ZrLibav& ZrLibav::Loaded() {
    return Process();
}

ZrLibav::ZrLibav(const char* util, const char* codec, const char* format, const char* resample)
    : m_names{util, codec, format, resample} {}

std::string ZrLibav::Load(Library library) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Every library before any function: a missing library says more than what another lacks.
    for (int i = Util; i <= library; ++i) {
        if (m_errors[i].empty() && !m_libraries[i].Open(m_names[i]))
            m_errors[i] = m_libraries[i].Error();
        if (!m_errors[i].empty())
            return m_errors[i];
    }
    for (int i = Util; i <= library; ++i) {
        if (!m_ready[i]) {
            m_errors[i] = Resolve(static_cast<Library>(i));
            m_ready[i] = m_errors[i].empty();
        }
        if (!m_ready[i])
            return m_errors[i];
    }
    return {};
}

std::string ZrLibav::Resolve(Library library) {
    ZrSharedLibrary& shared = m_libraries[library];
    std::string missing;
#define ZR_LIBAV_RESOLVE(owner, name)                                                              \
    if (owner == library && !shared.Resolve(#name, name))                                          \
        missing += (missing.empty() ? "" : ", ") + std::string(#name);
    ZR_LIBAV_FUNCTIONS(ZR_LIBAV_RESOLVE)
#undef ZR_LIBAV_RESOLVE
    if (!missing.empty())
        return std::string("cannot use ") + m_names[library] + ", which lacks " + missing;
    return {};
}

std::string ZrLibav::ErrorText(int averror) const {
    if (!av_strerror)
        return "error " + std::to_string(averror);
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}
