// Reads arbitrary bytes as a settings text (and as a number), writes the map back and reads
// that again: the second reading must give the same entries, and nothing may crash or leak.
// (The texts themselves may list the entries in another order: the order follows the history
// of insertions once the table has grown.)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/ZrNumber.h"
#include "frame/ZrPropertyMap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text(size / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));

    ZrPropertyMap first;
    first.StoreSettingsText(text);
    const ZrString written = first.ToSettingsText();
    ZrPropertyMap second;
    second.StoreSettingsText(written.View());
    if (!second.Equals(first))
        std::abort();

    // The same bytes as a number and as the other whole-map forms.
    const int32_t n = ZrParseInt32(text);
    if (n == INT32_MIN)
        std::abort(); // saturation stops at -2147483647
    (void)ZrParseInt64(text);
    (void)ZrParseHex(text);
    (void)ZrParseDouble(text);
    ZrPropertyMap xml;
    xml.FromXml(text);
    ZrString out;
    first.ToXml(out);
    ZrPropertyMap back;
    if (!back.FromXml(out.View()) || !back.Equals(first))
        std::abort();
    return 0;
}
