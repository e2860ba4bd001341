// Reads and validates arbitrary bytes as an MP4 file: it must end in a result, never a crash, a
// hang or an allocation the bytes do not justify.
#include "mp4/MP4File.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CMP4File file;
    if (!file.OpenMemory(data, size))
        return 0;
    if (file.ReadAtoms() && file.ValidateAtoms()) {
        // A valid tree must also lay out and dump.
        file.LayOut();
        (void)file.Dump(2);
    }
    return 0;
}
