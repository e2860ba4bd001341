#include "tools/ZrToolsLibraries.h"

#include "tools/ZrNoDestroy.h"

namespace {

// The sonames of the ABIs the headers describe (neither follows the library's version number).
ZrToolsLibraries& Process() {
    static ZrNoDestroy<ZrToolsLibraries> table("libcurl.so.4", "libarchive.so.13");
    return table.Value;
}

} // namespace

const ZrToolsLibraries* ZrToolsLibraries::Open(Library library, std::string* why) {
    ZrToolsLibraries& table = Process();
    std::string error = table.Load(library);
    if (error.empty())
        return &table;
    if (why)
        *why = std::move(error);
    return nullptr;
}

const ZrToolsLibraries& ZrToolsLibraries::Loaded() {
    return Process();
}

ZrToolsLibraries::ZrToolsLibraries(const char* curl, const char* archive)
    : m_names{curl, archive} {}

std::string ZrToolsLibraries::Load(Library library) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_ready[library] && m_errors[library].empty()) {
        if (!m_libraries[library].Open(m_names[library]))
            m_errors[library] = m_libraries[library].Error();
        else
            m_errors[library] = Resolve(library);
        m_ready[library] = m_errors[library].empty();
    }
    return m_errors[library];
}

std::string ZrToolsLibraries::Resolve(Library library) {
    ZrSharedLibrary& shared = m_libraries[library];
    std::string missing;
#define ZR_TOOLS_LIBRARY_RESOLVE(owner, name)                                                      \
    if (owner == library && !shared.Resolve(#name, name))                                          \
        missing += (missing.empty() ? "" : ", ") + std::string(#name);
    ZR_TOOLS_LIBRARY_FUNCTIONS(ZR_TOOLS_LIBRARY_RESOLVE)
#undef ZR_TOOLS_LIBRARY_RESOLVE
    if (!missing.empty())
        return std::string("cannot use ") + m_names[library] + ", which lacks " + missing;
    return {};
}
