// The settings store as a tree in memory and as text on disk.
//
// A tree of keys, each with named values (32-bit integers or texts) and subkeys. Key and
// value names are compared without regard to case; a key keeps the spelling it was created
// with. Subkeys are kept in case-insensitive alphabetical order, values in the order they were
// first written.
//
// The text form is UTF-8, one line per item:
//
//   ; a comment (also "#"); blank lines are ignored
//   [Plugins\Encoders\FLAC Encoder]       a key, by its full path below the tree's root
//   IVersion = 5                          an integer value (decimal, optional "-")
//   Ext = "flac"                          a text value, always in double quotes
//   "odd = name" = "line 1\nline 2"       a quoted name
//
// Inside quotes, \\ \" \n \r \t \xHH (other control characters) and \uHHHH (a UTF-16 code unit,
// used for unpaired surrogates) are escapes; every other character stands for itself, so
// non-ASCII text is readable as it is. A name is quoted when it is empty, has blanks at either
// end, contains "=" or a control character, or starts with one of  " [ ; #. A key path is
// quoted ("[\"...\"]") on the same conditions, "=" excepted; "[]" is the root key. A key
// appears when it has values or no subkeys (an empty key is kept); its parents are implied.
// Lines outside any key, or that cannot be read, count as absent and are reported.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Case-insensitive equality and ordering of names, the same in every locale.
bool ZrStoreNamesEqual(std::u16string_view a, std::u16string_view b) noexcept;
int ZrStoreCompareNames(std::u16string_view a, std::u16string_view b) noexcept;

// A key path split at backslashes; empty components (leading, trailing, doubled separators)
// are dropped, so "" and "\" are the root.
std::vector<std::u16string> ZrSplitKeyPath(std::u16string_view path);

struct ZrStoreValue {
    std::u16string Name;
    bool IsInteger = false;
    int32_t Integer = 0;
    std::u16string Text;

    bool operator==(const ZrStoreValue&) const = default;
};

class ZrStoreNode {
public:
    std::u16string Name;
    std::vector<ZrStoreValue> Values;
    std::vector<ZrStoreNode> Children; // sorted by ZrStoreCompareNames

    // The node at `path` below this one, or null.
    const ZrStoreNode* Find(const std::vector<std::u16string>& path) const;
    ZrStoreNode* Find(const std::vector<std::u16string>& path);
    // The node at `path`, created with its parents when missing; `created` tells which.
    ZrStoreNode& FindOrCreate(const std::vector<std::u16string>& path, bool* created = nullptr);
    ZrStoreNode* Child(std::u16string_view name);
    const ZrStoreNode* Child(std::u16string_view name) const;

    const ZrStoreValue* Value(std::u16string_view name) const;
    // Replaces the value of that name (keeping its place and spelling) or appends it; false
    // when the stored value was already equal.
    bool SetValue(ZrStoreValue value);
    bool RemoveValue(std::u16string_view name);
    // Removes the subtree at `path` (one or more components); false when it is absent.
    bool RemoveSubtree(const std::vector<std::u16string>& path);

    bool operator==(const ZrStoreNode& other) const;
};

struct ZrStoreParseResult {
    ZrStoreNode Root;
    std::vector<std::string> Problems; // "line 12: ...", one per line that was ignored
};

ZrStoreParseResult ZrParseStore(std::string_view text);
// The text form of the tree, starting with `banner` (comment lines, each with its "; ").
std::string ZrFormatStore(const ZrStoreNode& root, std::string_view banner = {});
