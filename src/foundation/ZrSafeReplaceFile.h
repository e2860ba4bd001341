// Replacing a file by a newly written one without ever leaving neither.
#pragma once

#include "foundation/ZrString.h"

#include <cstdint>

namespace ZrFileSystem {

// Puts `replacement` in the place of `destination`. Nothing happens (and the replacement is
// deleted) when the replacement is smaller than `minimumSize` bytes. An existing destination is
// kept under a backup name until the replacement is in place, then the backup is deleted; if
// the replacement cannot be moved, the backup goes back ("Error moving new file into place of
// original name"); if the destination cannot be set aside, nothing changes ("Error renaming
// original file"). The replacement takes over the destination's permissions. A replacement on
// another file system is copied next to the destination first, so the final step is always a
// rename. Returns true when the replacement is in place; when nothing was moved the
// replacement is deleted.
bool SafeReplaceFile(const ZrString& destination, const ZrString& replacement, int64_t minimumSize);

} // namespace ZrFileSystem
