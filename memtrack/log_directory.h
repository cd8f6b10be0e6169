// The log files' directory, from the switch "TrackMemoryLogLocation". Part of the configuration reading.
#pragma once

#include "platform/platform.h"

// Fills logDir from the value under the open switches key: the location with one backslash appended,
// created when its parent exists, the temporary directory when its parent is missing, empty when the
// value is missing or cannot serve as a directory.
void readLogDirectory(HKEY switchesKey);
