// Runs a program on a pseudo-terminal of its own, for what a program shows only to a terminal.
#pragma once

#include "support/TestSupport.h"

namespace zrtest {

// Like Run, with standard input, output and error on a 120-column terminal; `Output` is what
// the terminal received, control sequences included.
RunResult RunOnTerminal(const std::vector<std::string>& argv,
                        const std::vector<std::string>& env = {});

} // namespace zrtest
