// Case-insensitive search on UTF-16 texts. Characters are compared by their simple case fold
// (the lower case of their upper case, from the C library's Unicode tables); a surrogate pair
// is one character, so a match never starts or ends inside one. An empty `what` is never found
// and replaces nothing; matches do not overlap and are taken from the left.
#pragma once

#include "tessary/ZrToolsServices.h"

class ZrToolsStrings final : public IZrStringService {
public:
    static ZrToolsStrings& Instance();

    int32_t Find(const char16_t* text, const char16_t* what, int32_t start) override;
    ZrSysString ReplaceAll(const char16_t* text, const char16_t* what,
                           const char16_t* with) override;
};
