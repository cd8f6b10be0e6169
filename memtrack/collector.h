// The collector: the object whose lifetime brackets the tracker's work in one loaded copy of the module.
// It is constructed by the first allocation or release (hook_selection.cpp) and destroyed when the module
// is unloaded. It holds nothing but its virtual-table pointer: what it sets up is module-wide state.
#pragma once

class CDbgHelp;

class OVMemCollector {
  public:
    // Registers this object as the module's collector.
    OVMemCollector();
    // Unregisters it.
    virtual ~OVMemCollector();
    OVMemCollector(const OVMemCollector&) = delete;
    OVMemCollector& operator=(const OVMemCollector&) = delete;
};

// The registered collector, or none.
extern OVMemCollector* moduleCollector;
// The one symbol resolver, or none (tracking off, or it could not be set up).
extern CDbgHelp* symbolResolver;
