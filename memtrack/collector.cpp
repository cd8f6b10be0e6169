// The collector's set-up of tracking. The final report at unload is in final_report.cpp.
#include "memtrack/collector.h"

#include "memtrack/live_list.h"
#include "memtrack/module_names.h"
#include "memtrack/switches_key.h"
#include "memtrack/symbol_resolver.h"
#include "memtrack/track_config.h"
#include "platform/platform.h"
#include "platform/portability.h"

#include <cstring>

OVMemCollector* moduleCollector = nullptr;
CDbgHelp* symbolResolver = nullptr;

namespace {

void setUpSymbolResolver() {
    if (symbolResolver != nullptr) {
        return;
    }
    symbolResolver = new CDbgHelp;
    if (symbolResolver == nullptr) {
        return;
    }
    if (!symbolResolver->initialize()) {
        delete symbolResolver;
        symbolResolver = nullptr;
        return;
    }
    if (readAppendSymbolServerPath() && symbolProcess != nullptr) {
        // Without the server the symbols of the local search path still serve.
        symbolResolver->appendSymbolServerPath();
    }
}

} // namespace

bool readAppendSymbolServerPath() {
    HKEY key = openSwitchesKey();
    if (key == nullptr) {
        return false;
    }
    // A value longer than four bytes fails the query and counts as off.
    DWORD value = 0;
    bool append = querySwitch(key, W("AppendTRVSymbolServerPath"), &value) && value != 0;
    RegCloseKey(key);
    return append;
}

OVMemCollector::OVMemCollector() {
    bool tracking = isTrackingOn();
    if (tracking) {
        // A lock that is already set up serves as it is.
        collectorLock.setUp();
    }
    // The list is guarded from here on. Where these operators serve the whole process (a test program
    // linked with them) the platform code below allocates and releases through them, and those releases
    // are no releases after a teardown.
    collectorTornDown.store(false);
    teardownBannerPending.store(false);
    if (tracking) {
        setUpSymbolResolver();
        std::memset(collectorModulePath, 0, sizeof collectorModulePath);
        // Without it the log files cannot be named, and records that would create them are dropped.
        captureCollectorModuleName();
    }
    moduleCollector = this;
}
