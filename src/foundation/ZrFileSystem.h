// File-system helpers of the foundation.
#pragma once

#include "foundation/ZrString.h"

#include <cstdint>
#include <string>

namespace ZrFileSystem {

// Creates every missing folder above `filePath` (the last component is a file name). Logs
// "Failed! Path=%s" and returns false when a folder cannot be made.
bool MakeDirectoryTree(const ZrString& filePath);
// Creates `folder` and every missing folder above it; the path is taken as bytes (file names
// need not be UTF-8). On failure `error` (when given) names the folder that could not be made
// and why.
bool MakeDirectories(const std::string& folder, std::string* error = nullptr);
bool DirectoryExists(const ZrString& path);
bool DeleteFile(const ZrString& path);
// Bytes available to an unprivileged user on the volume holding `path`; -1 when unknown.
int64_t FreeSpace(const ZrString& path);
// The folder part of a path ("/a/b/c.wav" -> "/a/b"); "." for a bare name.
ZrString FolderOf(const ZrString& path);
ZrString Join(const ZrString& folder, const ZrString& name);
// The temporary folder: $TMPDIR or /tmp.
ZrString TempFolder();

} // namespace ZrFileSystem
