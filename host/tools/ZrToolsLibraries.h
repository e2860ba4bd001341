// libcurl and libarchive, opened by soname on first use and resolved once per process. Only the
// dependency installer's downloads and unpacking need them, and linked at load time their forty
// dependencies (TLS, Kerberos, LDAP, ICU, ...) would slow the start of every host that loads us.
//
//     std::string why;
//     const ZrToolsLibraries* lib = ZrToolsLibraries::Open(ZrToolsLibraries::Curl, &why);
//     if (!lib)
//         return Fail(why);               // "cannot load libcurl.so.4: ..."
//     CURL* easy = lib->curl_easy_init();
//
// A function the code needs is one line in ZR_TOOLS_LIBRARY_FUNCTIONS.
#pragma once

#include "foundation/ZrSharedLibrary.h"

#include <archive.h>
#include <archive_entry.h>
#include <curl/curl.h>
#include <mutex>
#include <string>

// X(library, function): every function called through the table, with the library that
// exports it.
#define ZR_TOOLS_LIBRARY_FUNCTIONS(X)                                                              \
    X(Curl, curl_easy_cleanup)                                                                     \
    X(Curl, curl_easy_getinfo)                                                                     \
    X(Curl, curl_easy_init)                                                                        \
    X(Curl, curl_easy_setopt)                                                                      \
    X(Curl, curl_easy_strerror)                                                                    \
    X(Curl, curl_global_init)                                                                      \
    X(Curl, curl_multi_add_handle)                                                                 \
    X(Curl, curl_multi_cleanup)                                                                    \
    X(Curl, curl_multi_info_read)                                                                  \
    X(Curl, curl_multi_init)                                                                       \
    X(Curl, curl_multi_perform)                                                                    \
    X(Curl, curl_multi_poll)                                                                       \
    X(Curl, curl_multi_remove_handle)                                                              \
    X(Archive, archive_entry_copy_hardlink)                                                        \
    X(Archive, archive_entry_copy_pathname)                                                        \
    X(Archive, archive_entry_filetype)                                                             \
    X(Archive, archive_entry_hardlink)                                                             \
    X(Archive, archive_entry_pathname)                                                             \
    X(Archive, archive_entry_symlink)                                                              \
    X(Archive, archive_error_string)                                                               \
    X(Archive, archive_read_data_block)                                                            \
    X(Archive, archive_read_data_skip)                                                             \
    X(Archive, archive_read_free)                                                                  \
    X(Archive, archive_read_new)                                                                   \
    X(Archive, archive_read_next_header)                                                           \
    X(Archive, archive_read_open_memory)                                                           \
    X(Archive, archive_read_support_filter_all)                                                    \
    X(Archive, archive_read_support_format_gnutar)                                                 \
    X(Archive, archive_read_support_format_tar)                                                    \
    X(Archive, archive_read_support_format_zip)                                                    \
    X(Archive, archive_write_close)                                                                \
    X(Archive, archive_write_data_block)                                                           \
    X(Archive, archive_write_disk_new)                                                             \
    X(Archive, archive_write_disk_set_options)                                                     \
    X(Archive, archive_write_finish_entry)                                                         \
    X(Archive, archive_write_free)                                                                 \
    X(Archive, archive_write_header)

class ZrToolsLibraries {
public:
    enum Library { Curl, Archive, LibraryCount };

    // The process's table with `library` opened and its functions resolved, on the first call
    // for it. Null when the library or one of its functions is missing; `why` (when given) then
    // names it. Thread-safe; the table lives as long as the process, and so does a failure.
    static const ZrToolsLibraries* Open(Library library, std::string* why = nullptr);
    // The process's table without opening anything: only the functions of libraries that Open
    // has succeeded for are set.
    static const ZrToolsLibraries& Loaded();

    // A table of its own over libraries of other names (to check what a missing one reports).
    ZrToolsLibraries(const char* curl, const char* archive);
    ZrToolsLibraries(const ZrToolsLibraries&) = delete;
    ZrToolsLibraries& operator=(const ZrToolsLibraries&) = delete;
    // Opens `library` in this table; "" when it can be used, else why not.
    std::string Load(Library library);

    // curl.h makes curl_easy_setopt and curl_easy_getinfo macros that expand to the same call,
    // so calls through these members stay as written.
#define ZR_TOOLS_LIBRARY_POINTER(library, name) decltype(&::name) name = nullptr;
    ZR_TOOLS_LIBRARY_FUNCTIONS(ZR_TOOLS_LIBRARY_POINTER)
#undef ZR_TOOLS_LIBRARY_POINTER

private:
    std::string Resolve(Library library);

    std::mutex m_mutex;
    ZrSharedLibrary m_libraries[LibraryCount];
    const char* m_names[LibraryCount];
    bool m_ready[LibraryCount] = {};
    std::string m_errors[LibraryCount];
};
