#include "tools/ZrArchiveUnpacker.h"

#include "foundation/ZrUtf.h"
#include "tools/ZrNoDestroy.h"
#include "tools/ZrToolsFiles.h"
#include "tools/ZrToolsLibraries.h"
#include "tools/ZrToolsLogger.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Path = std::vector<std::string>; // components below the target folder

struct ReaderFree {
    void operator()(archive* a) const { ZrToolsLibraries::Loaded().archive_read_free(a); }
};
struct WriterFree {
    void operator()(archive* a) const { ZrToolsLibraries::Loaded().archive_write_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ReaderFree>;

std::string Join(const Path& path) {
    std::string joined;
    for (const std::string& part : path)
        joined += (joined.empty() ? "" : "/") + part;
    return joined;
}

// An archive's own name for a place below the folder: relative, without "..".
bool Split(std::string_view name, Path& out) {
    out.clear();
    if (name.empty() || name.front() == '/')
        return false;
    for (size_t start = 0; start <= name.size();) {
        size_t end = name.find('/', start);
        if (end == std::string_view::npos)
            end = name.size();
        const std::string_view part = name.substr(start, end - start);
        if (part == "..")
            return false;
        if (!part.empty() && part != ".")
            out.emplace_back(part);
        start = end + 1;
    }
    return true;
}

using Links = std::map<std::string, std::string>; // symbolic links of the archive, by name

// Follows `target` from the folder `base` through the archive's links; false once it climbs
// out of the target folder or the links loop.
bool Resolve(const Links& links, Path base, std::string_view target, int& budget, Path& out) {
    if (target.empty() || target.front() == '/')
        return false;
    for (size_t start = 0; start <= target.size();) {
        size_t end = target.find('/', start);
        if (end == std::string_view::npos)
            end = target.size();
        const std::string part(target.substr(start, end - start));
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (base.empty())
                return false;
            base.pop_back();
            continue;
        }
        base.push_back(part);
        const auto link = links.find(Join(base));
        if (link == links.end())
            continue;
        if (--budget < 0)
            return false;
        base.pop_back();
        Path resolved;
        if (!Resolve(links, base, link->second, budget, resolved))
            return false;
        base = std::move(resolved);
    }
    out = std::move(base);
    return true;
}

bool BehindLink(const Links& links, const Path& path) {
    Path prefix;
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        prefix.push_back(path[i]);
        if (links.count(Join(prefix)))
            return true;
    }
    return false;
}

ArchivePtr OpenReader(const ZrToolsLibraries& lib, const void* data, size_t size,
                      std::string* why) {
    ArchivePtr reader(lib.archive_read_new());
    if (!reader) {
        *why = "out of memory";
        return nullptr;
    }
    lib.archive_read_support_filter_all(reader.get());
    lib.archive_read_support_format_zip(reader.get());
    lib.archive_read_support_format_tar(reader.get());
    lib.archive_read_support_format_gnutar(reader.get());
    if (lib.archive_read_open_memory(reader.get(), data, size) != ARCHIVE_OK) {
        *why = std::string("cannot read the archive: ") + lib.archive_error_string(reader.get());
        return nullptr;
    }
    return reader;
}

const char* EntryName(const ZrToolsLibraries& lib, archive_entry* entry) {
    const char* name = lib.archive_entry_pathname(entry);
    return name ? name : "";
}

// Reads every header and says why the first unsafe entry is refused; empty when all are safe.
std::string CheckEntries(const ZrToolsLibraries& lib, const void* data, size_t size,
                         std::string* readError) {
    ArchivePtr reader = OpenReader(lib, data, size, readError);
    if (!reader)
        return {};
    struct Seen {
        std::string Name;
        Path Where;
        std::string Link; // symbolic link target
        std::string Hard; // hard link target
        bool Symlink = false;
    };
    std::vector<Seen> entries;
    Links links;
    archive_entry* entry = nullptr;
    int status;
    while ((status = lib.archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK ||
           status == ARCHIVE_WARN) {
        Seen seen;
        seen.Name = EntryName(lib, entry);
        const char* hard = lib.archive_entry_hardlink(entry);
        const mode_t type = lib.archive_entry_filetype(entry);
        if (!Split(seen.Name, seen.Where))
            return "Refused archive entry \"" + seen.Name + "\": its name leaves the target folder";
        if (hard) {
            seen.Hard = hard;
        } else if (type == AE_IFLNK) {
            seen.Symlink = true;
            const char* target = lib.archive_entry_symlink(entry);
            seen.Link = target ? target : "";
            if (!seen.Where.empty())
                links[Join(seen.Where)] = seen.Link;
        } else if (type != AE_IFREG && type != AE_IFDIR) {
            return "Refused archive entry \"" + seen.Name +
                   "\": it is not a file, a folder or a link";
        }
        entries.push_back(std::move(seen));
        lib.archive_read_data_skip(reader.get());
    }
    if (status != ARCHIVE_EOF) {
        *readError =
            std::string("cannot read the archive: ") + lib.archive_error_string(reader.get());
        return {};
    }
    for (const Seen& seen : entries) {
        const std::string refused = "Refused archive entry \"" + seen.Name + "\": ";
        if (BehindLink(links, seen.Where))
            return refused + "it lies behind a symbolic link";
        Path target;
        if (!seen.Hard.empty() &&
            (!Split(seen.Hard, target) || target.empty() || BehindLink(links, target)))
            return refused + "its hard link \"" + seen.Hard + "\" points outside the target folder";
        int budget = 40;
        Path resolved;
        if (seen.Symlink &&
            (seen.Where.empty() || !Resolve(links, Path(seen.Where.begin(), seen.Where.end() - 1),
                                            seen.Link, budget, resolved)))
            return refused + "its link \"" + seen.Link + "\" points outside the target folder";
    }
    return {};
}

// Writes every entry below `root` (a real path without links).
bool Extract(const ZrToolsLibraries& lib, const void* data, size_t size, const std::string& root,
             std::string* why) {
    ArchivePtr reader = OpenReader(lib, data, size, why);
    std::unique_ptr<archive, WriterFree> writer(lib.archive_write_disk_new());
    if (!reader || !writer) {
        if (why->empty())
            *why = "out of memory";
        return false;
    }
    lib.archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_TIME |
                                                         ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                         ARCHIVE_EXTRACT_SECURE_SYMLINKS);
    archive_entry* entry = nullptr;
    int status;
    while ((status = lib.archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK ||
           status == ARCHIVE_WARN) {
        const std::string name = EntryName(lib, entry);
        Path where;
        Split(name, where);
        if (where.empty())
            continue; // the folder itself
        lib.archive_entry_copy_pathname(entry, (root + "/" + Join(where)).c_str());
        if (const char* hard = lib.archive_entry_hardlink(entry)) {
            Path target;
            Split(hard, target);
            lib.archive_entry_copy_hardlink(entry, (root + "/" + Join(target)).c_str());
        }
        bool written = lib.archive_write_header(writer.get(), entry) >= ARCHIVE_WARN;
        const void* block;
        size_t length;
        la_int64_t offset;
        int read;
        while (written && (read = lib.archive_read_data_block(reader.get(), &block, &length,
                                                              &offset)) != ARCHIVE_EOF) {
            if (read < ARCHIVE_WARN) {
                *why = "cannot read \"" + name +
                       "\" from the archive: " + lib.archive_error_string(reader.get());
                return false;
            }
            written =
                lib.archive_write_data_block(writer.get(), block, length, offset) >= ARCHIVE_WARN;
        }
        if (!written || lib.archive_write_finish_entry(writer.get()) < ARCHIVE_WARN) {
            *why = "cannot write \"" + name + "\": " + lib.archive_error_string(writer.get());
            return false;
        }
    }
    if (status != ARCHIVE_EOF) {
        *why = std::string("cannot read the archive: ") + lib.archive_error_string(reader.get());
        return false;
    }
    if (lib.archive_write_close(writer.get()) != ARCHIVE_OK) {
        *why = std::string("cannot finish writing: ") + lib.archive_error_string(writer.get());
        return false;
    }
    return true;
}

} // namespace

ZrArchiveUnpacker& ZrArchiveUnpacker::Instance() {
    static ZrNoDestroy<ZrArchiveUnpacker> unpacker;
    return unpacker.Value;
}

bool ZrArchiveUnpacker::Unpack(const void* data, size_t size, const char16_t* folder,
                               ZrSysString* errorText) {
    const std::string target = ZrUtf16ToUtf8(folder ? folder : u"");
    std::string why;
    const ZrToolsLibraries* lib = nullptr;
    if (!data || target.empty()) {
        why = "no archive or no target folder was given";
    } else if ((lib = ZrToolsLibraries::Open(ZrToolsLibraries::Archive, &why))) {
        std::string readError;
        why = CheckEntries(*lib, data, size, &readError);
        if (why.empty())
            why = readError;
    }
    if (why.empty()) {
        std::error_code error;
        std::filesystem::create_directories(target, error);
        char real[PATH_MAX];
        if (error || !::realpath(target.c_str(), real))
            why = "cannot create the folder \"" + target +
                  "\": " + (error ? error.message() : ZrToolsFiles::ErrnoText(errno));
        else if (Extract(*lib, data, size, real, &why))
            return true;
    }
    ZrToolsLog("ZrArchiveUnpacker::Unpack", "Cannot unpack into \"" + target + "\": " + why);
    if (errorText)
        *errorText = SysAllocString(ZrUtf8ToUtf16(why).c_str());
    return false;
}
