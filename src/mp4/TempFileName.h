// Unique temporary files for the rewrite of an MP4 file.
#pragma once

#include "foundation/ZrString.h"

// The host's temporary folder (its setting "File Location - Temp Location" when a host is loaded
// and the folder exists), else the system's.
ZrString HostTempFolder();

// Creates a new, empty file "<folder>/<stem>XXXXXX.<extension>" with a unique middle part and
// returns its path; empty when none could be created.
ZrString CreateUniqueTempFile(const ZrString& folder, const ZrString& stem,
                              const ZrString& extension);
