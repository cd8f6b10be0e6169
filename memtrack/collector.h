// The collector: the object whose lifetime brackets the tracker's work in one loaded copy of the module.
// It is constructed by the first allocation or release (allocation_hooks.cpp), before any of the module's
// static objects that allocate has registered its destruction, and destroyed when the module is unloaded,
// after them. Its destructor is the final report. It holds nothing but its virtual-table pointer: what it
// sets up is module-wide state.
#pragma once

class OVMemCollector {
  public:
    // With tracking on: sets up collectorLock, the symbol resolver and this module's path. Always: clears
    // collectorTornDown and teardownBannerPending and registers this object as the module's collector.
    OVMemCollector();
    // With tracking on: the final report on the debugger output, a "MemoryLeak" record for every block
    // still live, and the release of what the tracker held; the log files and the live index stay while
    // blocks are live, for the releases that still arrive. Then, if the lock was set up, deletes it and marks
    // the tracker torn down. Always: unregisters this object.
    virtual ~OVMemCollector();
    OVMemCollector(const OVMemCollector&) = delete;
    OVMemCollector& operator=(const OVMemCollector&) = delete;
};

// The registered collector, or none.
extern OVMemCollector* moduleCollector;
