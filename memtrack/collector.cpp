// The collector's lifetime. Setting up tracking (list lock, symbol resolver, module path) and the final
// report at unload join the constructor and destructor with the parts they use.
#include "memtrack/collector.h"

#include "memtrack/track_config.h"

OVMemCollector* moduleCollector = nullptr;
CDbgHelp* symbolResolver = nullptr;

OVMemCollector::OVMemCollector() {
    isTrackingOn();
    moduleCollector = this;
}

OVMemCollector::~OVMemCollector() {
    moduleCollector = nullptr;
}
