// zrenc --dependencies: where each encoder program was found, or why it is missing.
#pragma once

namespace zrenc {

// Prints one line per program; installs nothing. Returns the exit status.
int ListDependencies();

} // namespace zrenc
