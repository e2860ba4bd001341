// The columns UTF-8 text takes on a terminal, for lining up tables and dialogs.
//
// A character counts what wcwidth gives it under a UTF-8 locale, whatever the process's own
// locale: 2 for wide scripts and emoji, 0 for combining marks. A byte that does not start a
// valid sequence, and a character without a printable width, count 1.
#pragma once

#include <cstddef>
#include <string_view>

size_t ZrTextColumns(std::string_view utf8);
// Bytes of the longest start of `utf8` that fits in `columns`; characters are never split and
// combining marks stay with the character before them.
size_t ZrTextPrefixBytes(std::string_view utf8, size_t columns);
// Where the longest end of `utf8` that fits in `columns` starts, by the same rules.
size_t ZrTextSuffixStart(std::string_view utf8, size_t columns);
