// Placeholder: declarations arrive with the tracker.
#pragma once

#include "win32_types.h"
