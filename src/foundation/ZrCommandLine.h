// Command lines as one text, the way the Windows C runtime splits them into arguments, so that a
// line written for an encoder program (quoted program path, quoted file names) means the same
// here and is run from an argument vector, never through a shell.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits `line` into arguments by the C runtime's rules (the rules since 2008):
// - blanks and tabs outside quotes separate arguments; any other character (a newline too) is
//   part of one;
// - a double quote starts or ends a quoted run, in which blanks and tabs are kept;
// - 2n backslashes before a double quote give n backslashes, and the quote starts or ends a run;
//   2n+1 backslashes before a double quote give n backslashes and a literal quote;
// - backslashes not followed by a double quote are literal;
// - inside a quoted run, two double quotes give one literal quote and the run goes on;
// - `""` alone gives an empty argument.
// The first token (the program) follows the same rules; the system's own loader reads it more
// simply, which differs only for a backslash before a quote, something a program path never
// needs. The line ends at its first NUL, as a C string would. Each argument is converted with
// ZrUtf16ToUtf8, so its bytes reach the program's argv unchanged.
std::vector<std::string> ZrSplitCommandLine(std::u16string_view line);

// A token that ZrSplitCommandLine reads back as exactly `argument`: the argument itself when it
// has nothing to protect, otherwise quoted, with quotes and the backslashes before them escaped.
// An argument cannot contain NUL; one that does is cut there.
std::u16string ZrQuoteArgument(std::u16string_view argument);
