#include "zrenc/OutputFiles.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

namespace zrenc {

namespace fs = std::filesystem;

namespace {

// The name without its last extension; a leading dot alone does not start an extension.
std::string StemOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string ExtensionOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
}

// The longest name most Linux file systems take, in bytes.
constexpr size_t NameMax = 255;
constexpr std::string_view TagMark = ".zrenc-";

// Cut to at most `bytes` bytes, not inside a UTF-8 sequence.
std::string CutName(const std::string& name, size_t bytes) {
    if (name.size() <= bytes)
        return name;
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return name.substr(0, end);
}

// The pid in a temporary name (".stem.zrenc-<pid>-<random>.ext"), or 0 when it has none.
pid_t OwnerOf(const std::string& name) {
    const size_t mark = name.rfind(TagMark);
    if (name.empty() || name[0] != '.' || mark == std::string::npos)
        return 0;
    const char* digits = name.c_str() + mark + TagMark.size();
    char* end = nullptr;
    const long pid = std::strtol(digits, &end, 10);
    return end != digits && *end == '-' && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

// A pid that is no longer a zrenc: gone, or reused by another program. When in doubt (another
// user's process, a program that cannot be looked at) it counts as still writing.
bool OwnerGone(pid_t pid) {
    if (::kill(pid, 0) != 0)
        return errno == ESRCH;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string command;
    if (!comm || !std::getline(comm, command) || command == "zrenc")
        return false;
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    if (ec)
        return false;
    return program != fs::read_symlink("/proc/self/exe", ec);
}

std::string RandomTag() {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
    return std::string(text, 8);
}

bool StemTaken(const fs::path& folder, const std::string& stem) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name == stem || name.starts_with(stem + "."))
            return true;
    }
    return false;
}

// Moves one file; without `replace` the final name must be free (link fails when it exists).
bool MoveOne(const PendingFile& file, bool replace, std::string& error) {
    if (replace) {
        if (std::rename(file.from.c_str(), file.to.c_str()) == 0)
            return true;
    } else {
        if (::link(file.from.c_str(), file.to.c_str()) == 0) {
            ::unlink(file.from.c_str());
            return true;
        }
        if (errno == EEXIST) {
            error = file.to + " exists (-f replaces it)";
            return false;
        }
        // File systems without hard links: check, then rename.
        std::error_code ec;
        if (fs::exists(file.to, ec)) {
            error = file.to + " exists (-f replaces it)";
            return false;
        }
        if (std::rename(file.from.c_str(), file.to.c_str()) == 0)
            return true;
    }
    error = "cannot rename the finished output to " + file.to + ": " + std::strerror(errno);
    return false;
}

} // namespace

std::string OutputFor(const std::string& input, const std::string& folder,
                      const std::string& extension) {
    const fs::path in(input);
    const fs::path dir = folder.empty() ? in.parent_path() : fs::path(folder);
    std::string name = StemOf(in.filename().string());
    if (!extension.empty())
        name += "." + extension;
    return (dir / name).string();
}

std::string TemporaryNameFor(const std::string& finalPath) {
    const fs::path path(finalPath);
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const std::string name = path.filename().string();
    const std::string tag = std::string(TagMark) + std::to_string(::getpid()) + "-";
    for (;;) {
        const std::string suffix = tag + RandomTag();
        // Only the temporary name's stem is shortened, never the final name.
        const size_t room = NameMax - 1 - suffix.size() - ExtensionOf(name).size();
        const std::string stem = "." + CutName(StemOf(name), room) + suffix;
        if (!StemTaken(folder, stem))
            return (path.parent_path() / (stem + ExtensionOf(name))).string();
    }
}

void SweepStaleTemporaries(const std::string& folder) {
    std::error_code ec;
    const fs::path dir = folder.empty() ? fs::path(".") : fs::path(folder);
    std::vector<fs::path> stale;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const pid_t owner = OwnerOf(it->path().filename().string());
        if (owner > 0 && owner != ::getpid() && OwnerGone(owner))
            stale.push_back(it->path());
    }
    for (const fs::path& file : stale)
        fs::remove(file, ec);
}

std::vector<PendingFile> PendingFilesOf(const std::string& temporary,
                                        const std::string& finalPath) {
    const fs::path temp(temporary);
    const fs::path final(finalPath);
    const fs::path folder = temp.has_parent_path() ? temp.parent_path() : fs::path(".");
    // The temporary name is the final name's extension behind a stem of its own.
    const std::string extension = ExtensionOf(final.filename().string());
    const std::string tempName = temp.filename().string();
    const std::string tempStem = tempName.substr(0, tempName.size() - extension.size());
    const std::string finalStem = StemOf(final.filename().string());
    std::vector<PendingFile> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name == temp.filename().string())
            continue;
        if (name.starts_with(tempStem + "."))
            files.push_back(
                {(temp.parent_path() / name).string(),
                 (final.parent_path() / (finalStem + name.substr(tempStem.size()))).string()});
    }
    if (fs::exists(temp, ec))
        files.push_back({temporary, finalPath}); // last: the main output appears last
    return files;
}

bool CommitFiles(const std::vector<PendingFile>& files, bool replace, std::string& error) {
    for (size_t i = 0; i < files.size(); ++i) {
        if (MoveOne(files[i], replace, error))
            continue;
        // Companions already moved go back, so that no part of a failed output stays behind.
        while (i-- > 0)
            std::rename(files[i].to.c_str(), files[i].from.c_str());
        return false;
    }
    // A correction file of the output replaced (song.wvc beside song.wv) belongs to it: without
    // a new one it would be paired with the new output, which it does not correct.
    if (replace && !files.empty() && files.back().to.ends_with(".wv")) {
        const std::string correction = files.back().to + "c";
        bool rewritten = false;
        for (const PendingFile& file : files)
            rewritten |= file.to == correction;
        if (!rewritten && ::unlink(correction.c_str()) != 0 && errno != ENOENT) {
            error =
                "cannot remove the old correction file " + correction + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

void RemovePending(const std::string& temporary, const std::string& finalPath) {
    std::error_code ec;
    for (const PendingFile& file : PendingFilesOf(temporary, finalPath))
        fs::remove(file.from, ec);
}

} // namespace zrenc
