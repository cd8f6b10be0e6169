// The descriptors of security.h as the rest of the simulation reads them. Internal to winsim.
#pragma once

#include "winsim/core/malloc_containers.h"
#include "winsim/kernel/security.h"

namespace winsim_detail {

// The SDDL text a descriptor still held was converted from; false for anything else. Caller holds the
// world lock.
bool DescriptorText(PSECURITY_DESCRIPTOR descriptor, SimString* text);

} // namespace winsim_detail
