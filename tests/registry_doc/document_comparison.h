// Holding the value accesses that the module made against the rows of docs/REGISTRY.md.
#pragma once

#include "registry_table.h"
#include "value_access_scenarios.h"

#include <string>
#include <vector>

namespace registry_doc {

struct Discrepancies {
    // Values, and operations on documented values, that the module touched and the document lacks.
    std::vector<std::string> undocumented;
    // Rows, and operations of rows, that the module never touched.
    std::vector<std::string> untouched;
    // Types that the module wrote or found and the document does not give, or gives and never appeared.
    std::vector<std::string> types;
};

// Each access belongs to the row with its root, value name and a matching key. A type counts when the
// module wrote it or found a value of it.
Discrepancies Compare(const std::vector<DocumentedValue>& rows, const std::vector<ObservedAccess>& accesses);

// One message per line, for an assertion.
std::string Bulleted(const std::vector<std::string>& messages);

} // namespace registry_doc
