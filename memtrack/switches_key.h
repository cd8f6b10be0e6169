// The machine-wide key of the tracker's switches, HKEY_LOCAL_MACHINE "SOFTWARE\Orvale\DIZadaridi", and
// the way its DWORD switches are read.
#pragma once

#include "platform/platform.h"

// Opens the key for reading; null when it cannot be opened. The caller closes it.
HKEY openSwitchesKey();

// Reads a switch into 4 bytes without checking the value's type: a value of another type that fits is
// read as it stands, one that does not fit fails. `value` changes only on success.
bool querySwitch(HKEY key, LPCWSTR name, DWORD* value);
