// A library opened on first use rather than at load time. Libraries with large dependency trees
// (the FFmpeg ones pull in over a hundred others) cost a host tens of milliseconds at every
// start; code that needs them only for some inputs or one encoder opens them when it does.
#pragma once

#include <string>

class ZrSharedLibrary {
public:
    ZrSharedLibrary() = default;
    ZrSharedLibrary(const ZrSharedLibrary&) = delete;
    ZrSharedLibrary& operator=(const ZrSharedLibrary&) = delete;
    // The library stays loaded: the functions resolved from it may still be referenced.
    ~ZrSharedLibrary() = default;

    // Opens `soname` (the versioned name, so that the ABI matches the headers compiled
    // against). False with the loader's reason in Error().
    bool Open(const char* soname);
    bool IsOpen() const { return m_module != nullptr; }

    // Resolves `name` into `function`, typed as the declaration it stands for:
    //     decltype(&::crc32) crc = nullptr; library.Resolve("crc32", crc);
    // False, with the reason in Error(), when the library lacks it.
    template <class Function>
    bool Resolve(const char* name, Function*& function) {
        function = reinterpret_cast<Function*>(Symbol(name));
        return function != nullptr;
    }

    const std::string& Error() const { return m_error; }

private:
    void* Symbol(const char* name);

    void* m_module = nullptr;
    std::string m_error;
};
