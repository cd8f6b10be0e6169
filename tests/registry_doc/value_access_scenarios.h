// The module driven over the simulated machine through the situations in which it touches registry
// values, with every value access it makes collected from the simulated registry.
#pragma once

#include "registry_table.h"

#include <string>
#include <vector>

namespace registry_doc {

struct ObservedAccess {
    std::string root;    // "HKLM" or "HKCU"
    std::string keyPath; // below the root, in the letter case its levels were created with
    std::string name;
    Operation operation = winsim::ValueAccess::Read;
    DWORD type = 0;       // written, or found by a read or deletion
    bool existed = false; // whether the value existed before the access
    std::string scenario;

    std::string Label() const { return root + "\\" + keyPath + "\\" + name; }
};

// The shipped module through both passes of a USB printer's installation with each companion, unknown
// and present, and the rename of its queue; once with the values stored under their first types, once
// under the others that the module reads.
std::vector<ObservedAccess> RunInstallScenarios();

// The test build of the module loaded with tracking on in each mode, leaking one block, so that the
// report creates the log files and the note of their path.
std::vector<ObservedAccess> RunTrackerScenarios();

// Every value access logged by the simulated registry since its last reset.
std::vector<ObservedAccess> LoggedAccesses(const std::string& scenario);

} // namespace registry_doc
