// Any bytes read as a settings file: no crash, and whatever was read writes back to a text
// that reads as the same tree without problems and writes identically again.
#include "tools/ZrStoreFormat.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ZrStoreParseResult first =
        ZrParseStore(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string written = ZrFormatStore(first.Root, "; fuzz\n");
    const ZrStoreParseResult second = ZrParseStore(written);
    if (!second.Problems.empty() || !(second.Root == first.Root) ||
        ZrFormatStore(second.Root, "; fuzz\n") != written)
        std::abort();
    return 0;
}
