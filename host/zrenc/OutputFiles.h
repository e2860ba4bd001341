// Output names: where each input's output goes, the temporary name the encoder writes to, and
// the final rename that makes a finished output (and its companion files) appear at once.
#pragma once

#include <string>
#include <vector>

namespace zrenc {

// The output of `input` in `folder` (the input's own folder when empty), named after the input
// with `extension` in place of the input's last extension.
std::string OutputFor(const std::string& input, const std::string& folder,
                      const std::string& extension);

// A hidden name beside `finalPath` that keeps its extension (".song.zrenc-4711-1a2b3c4d.flac"),
// so that companion files an encoder derives from it (".song.zrenc-4711-1a2b3c4d.wvc") are
// recognised, and names the process that writes it. Its stem is shortened to stay within the
// 255-byte name limit. No file of that stem exists when it is returned.
std::string TemporaryNameFor(const std::string& finalPath);

// Removes the temporary files in `folder` left by a zrenc that was killed: those whose process
// is gone. Another running zrenc's files are left alone.
void SweepStaleTemporaries(const std::string& folder);

// The files an encoder wrote for `temporary`: the file itself and the companions that share its
// stem, each with the final name it gets.
struct PendingFile {
    std::string from;
    std::string to;
};
std::vector<PendingFile> PendingFilesOf(const std::string& temporary, const std::string& finalPath);

// Moves every pending file to its final name, companions first so that the main output appears
// last. Without `replace` an existing final name is an error. False with a reason; then the
// files already moved are moved back. With `replace`, an old WavPack correction file that the
// new output does not rewrite is removed.
bool CommitFiles(const std::vector<PendingFile>& files, bool replace, std::string& error);

// Removes the temporary file and its companions.
void RemovePending(const std::string& temporary, const std::string& finalPath);

} // namespace zrenc
