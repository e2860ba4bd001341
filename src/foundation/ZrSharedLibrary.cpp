#include "foundation/ZrSharedLibrary.h"

#include <dlfcn.h>

bool ZrSharedLibrary::Open(const char* soname) {
    if (m_module)
        return true;
    // RTLD_LOCAL: the library's symbols reach only those who resolve them here, so that two
    // users of different major versions in one process cannot interfere.
    m_module = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!m_module) {
        const char* reason = ::dlerror();
        m_error =
            std::string("cannot load ") + soname + ": " + (reason ? reason : "unknown reason");
        return false;
    }
    return true;
}

void* ZrSharedLibrary::Symbol(const char* name) {
    if (!m_module) {
        m_error = std::string("cannot resolve ") + name + ": the library is not loaded";
        return nullptr;
    }
    ::dlerror();
    void* symbol = ::dlsym(m_module, name);
    if (!symbol) {
        const char* reason = ::dlerror();
        m_error =
            std::string("cannot resolve ") + name + ": " + (reason ? reason : "no such symbol");
    }
    return symbol;
}
