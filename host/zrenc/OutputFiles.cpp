#include "zrenc/OutputFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
    for (;;) {
        const std::string stem = "." + StemOf(name) + ".zrenc-" + RandomTag();
        if (!StemTaken(folder, stem))
            return (path.parent_path() / (stem + ExtensionOf(name))).string();
    }
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
    return true;
}

void RemovePending(const std::string& temporary, const std::string& finalPath) {
    std::error_code ec;
    for (const PendingFile& file : PendingFilesOf(temporary, finalPath))
        fs::remove(file.from, ec);
}

} // namespace zrenc
