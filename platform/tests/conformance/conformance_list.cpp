// The check list and report sink shared by both sides.
#include "conformance.h"

std::vector<ConformanceCheck>& ConformanceChecks() {
    static std::vector<ConformanceCheck> checks;
    return checks;
}

ConformanceSink& TheConformanceSink() {
    static ConformanceSink sink;
    return sink;
}
