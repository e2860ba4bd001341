// Small POSIX file helpers of the tools library: every failure comes back as a readable text.
#pragma once

#include <string>
#include <string_view>

namespace ZrToolsFiles {

// "No such file or directory" and so on.
std::string ErrnoText(int error);
std::string FolderOf(const std::string& path);
// Writes everything, resuming after interruptions and short writes.
bool WriteAll(int fd, std::string_view data);
// Reads the whole file behind `fd` from its start; false on a read error or when it holds more
// than `limit` bytes.
bool ReadAll(int fd, std::string& out, size_t limit);
// Replaces `path` with `data` so that readers see the old or the new file, never a part:
// a temporary file in the same folder, fsync, rename, fsync of the folder. `mode` is the
// permission of a new file; an existing file keeps its own. A symbolic link is followed. On success
// `keptFd` (when not null) receives an open descriptor of the new file, which the caller closes.
bool ReplaceFile(const std::string& path, std::string_view data, unsigned mode, int* keptFd,
                 std::string* error);

} // namespace ZrToolsFiles
