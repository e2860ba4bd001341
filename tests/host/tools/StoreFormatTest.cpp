// The store's text form: what hand-written or damaged files read as, and that every tree
// survives writing and reading back.
#include "tools/ZrStoreFormat.h"

#include <gtest/gtest.h>

namespace {

using Path = std::vector<std::u16string>;

ZrStoreValue Int(std::u16string name, int32_t value) {
    return {std::move(name), true, value, {}};
}
ZrStoreValue Text(std::u16string name, std::u16string text) {
    return {std::move(name), false, 0, std::move(text)};
}

const Path A = {u"A"};
const ZrStoreValue None = {};

struct ReadCase {
    const char* What;
    std::string File;
    Path Key;
    std::u16string Name;
    bool Present;
    ZrStoreValue Expected; // when present
    size_t Problems;
};

const ReadCase ReadCases[] = {
    {"integer", "[A]\nx = 5\n", A, u"x", true, Int(u"x", 5), 0},
    {"quoted number is text", "[A]\nx = \"5\"\n", A, u"x", true, Text(u"x", u"5"), 0},
    {"smallest integer", "[A]\nx = -2147483648\n", A, u"x", true, Int(u"x", INT32_MIN), 0},
    {"integer too big", "[A]\nx = 2147483648\n", A, u"x", false, None, 1},
    {"integer with junk", "[A]\nx = 12abc\n", A, u"x", false, None, 1},
    {"value before any key", "x = 1\n[A]\n", {}, u"x", false, None, 1},
    {"root key", "[]\nx = 1\n", {}, u"x", true, Int(u"x", 1), 0},
    {"unterminated text", "[A]\nx = \"abc\n", A, u"x", false, None, 1},
    {"unknown escape", "[A]\nx = \"\\q\"\n", A, u"x", false, None, 1},
    {"NUL escape", "[A]\nx = \"a\\x00\"\n", A, u"x", false, None, 1},
    {"raw NUL", std::string("[A]\nx = \"a\0\"\n", 13), A, u"x", false, None, 1},
    {"raw NUL in a key name", std::string("[A\0]\nx = 1\n", 11), A, u"x", false, None, 2},
    {"escapes", "[A]\nx = \"\\\\\\\"\\n\\r\\t\\x01\\u00e9\\uD83D\\uDE00\"\n", A, u"x", true,
     Text(u"x", u"\\\"\n\r\t\x01é\U0001F600"), 0},
    {"quoted name", "[A]\n\"a = \\\"b\\\"\" = 1\n", A, u"a = \"b\"", true, Int(u"a = \"b\"", 1), 0},
    {"missing equals", "[A]\njust words\n", A, u"just words", false, None, 1},
    {"missing name", "[A]\n = 1\n", A, u"", false, None, 1},
    {"invalid UTF-8", "[A]\nx = \"caf\xE9\"\n", A, u"x", false, None, 1},
    {"encoded surrogate", "[A]\nx = \"\xED\xA0\x80\"\n", A, u"x", false, None, 1},
    {"Windows line ends and BOM", "\xEF\xBB\xBF[A]\r\nx = 1\r\n", A, u"x", true, Int(u"x", 1), 0},
    {"comments and blank lines", "; c\n# c\n\n  [A]  \n\t x = 1 \n", A, u"x", true, Int(u"x", 1),
     0},
    {"broken key line loses its values", "[A]\ny = 1\n[B\nx = 1\n", A, u"x", false, None, 2},
    {"later duplicate wins, first spelling stays", "[A]\nName = 1\nNAME = 2\n", A, u"name", true,
     Int(u"Name", 2), 0},
    {"duplicate keys merge", "[A]\nx = 1\n[a]\ny = 2\n", A, u"y", true, Int(u"y", 2), 0},
    {"doubled separators", "[\\A\\\\B\\]\nx = 1\n", {u"A", u"B"}, u"x", true, Int(u"x", 1), 0},
    {"quoted key path", "[\" A\\\\B\"]\nx = 1\n", {u" A", u"B"}, u"x", true, Int(u"x", 1), 0},
    {"bracket inside a key name", "[A]B]\nx = 1\n", {u"A]B"}, u"x", true, Int(u"x", 1), 0},
};

TEST(StoreFormat, ReadsFilesAsWrittenByHand) {
    for (const ReadCase& c : ReadCases) {
        const ZrStoreParseResult parsed = ZrParseStore(c.File);
        EXPECT_EQ(parsed.Problems.size(), c.Problems) << c.What;
        const ZrStoreNode* key = parsed.Root.Find(c.Key);
        const ZrStoreValue* value = key ? key->Value(c.Name) : nullptr;
        EXPECT_EQ(value != nullptr, c.Present) << c.What;
        if (value && c.Present) {
            EXPECT_TRUE(*value == c.Expected) << c.What;
        }
    }
}

TEST(StoreFormat, ProblemsNameTheirLine) {
    const ZrStoreParseResult parsed = ZrParseStore("[A]\nok = 1\nbad\n");
    ASSERT_EQ(parsed.Problems.size(), 1u);
    EXPECT_EQ(parsed.Problems[0].rfind("line 3: ", 0), 0u) << parsed.Problems[0];
}

ZrStoreNode OddTree() {
    ZrStoreNode root;
    root.SetValue(Int(u"root value", 1));
    const std::u16string odd[] = {
        u"",         u" lead",    u"trail ",     u"=",         u"a=b", u"\"quoted",
        u"[bracket", u";semi",    u"#hash",      u"new\nline", u"\t",  u"\x7f",
        u"\xD800",   u"x\xDC00y", u"\U0001F600", u"ü",         u"\\",  u"]",
    };
    ZrStoreNode& values = root.FindOrCreate({u"Values"});
    for (size_t i = 0; i < std::size(odd); ++i) {
        values.SetValue(Text(odd[i], odd[i]));
        values.SetValue(Int(u"int " + odd[i], static_cast<int32_t>(i) - 5));
    }
    for (const std::u16string& name : odd) {
        if (name.empty() || name == u"\\")
            continue; // not a key name
        root.FindOrCreate({u"Keys", name, u"child"}).SetValue(Int(u"x", 1));
        root.FindOrCreate({name}); // an empty key at the top
    }
    root.FindOrCreate({u"Empty", u"Deep", u"Leaf"});
    return root;
}

TEST(StoreFormat, EveryTreeReadsBackAsWritten) {
    const ZrStoreNode tree = OddTree();
    const std::string text = ZrFormatStore(tree, "; banner\n");
    const ZrStoreParseResult parsed = ZrParseStore(text);
    EXPECT_TRUE(parsed.Problems.empty()) << parsed.Problems.front() << "\n" << text;
    EXPECT_TRUE(parsed.Root == tree) << text;
    EXPECT_EQ(ZrFormatStore(parsed.Root, "; banner\n"), text);
    EXPECT_EQ(text.rfind("; banner\n\n[]\nroot value = 1\n", 0), 0u) << text;
}

} // namespace
