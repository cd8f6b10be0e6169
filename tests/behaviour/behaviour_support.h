// What the behaviour checks share: calling the co-installer's passes as the installation service does,
// reading the co-installer's per-user state, and preparing the devices they act on.
#pragma once

#include "behaviour_check.h"
#include "system_names.h"
#include "tests/two_sided/registry_type_name.h"

namespace behaviour {

// One call of the entry with the context record the service passes: PostProcessing and InstallResult as
// given, the rest zero. `seen` (may be null) receives the record as the call left it.
inline DWORD CallPass(BehaviourWorld& world, DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA* element,
                      bool postProcessing, DWORD installResult = NO_ERROR,
                      COINSTALLER_CONTEXT_DATA* seen = nullptr) {
    COINSTALLER_CONTEXT_DATA context = {};
    context.PostProcessing = postProcessing ? TRUE : FALSE;
    context.InstallResult = installResult;
    const DWORD answer = world.CallEntry(function, set, element, &context);
    if (seen != nullptr) {
        *seen = context;
    }
    return answer;
}

inline DWORD PrePass(BehaviourWorld& world, WorldDevice& device) {
    return CallPass(world, DIF_INSTALLDEVICE, device.Set(), device.Element(), false);
}

inline DWORD PostPass(BehaviourWorld& world, WorldDevice& device, DWORD installResult = NO_ERROR) {
    return CallPass(world, DIF_INSTALLDEVICE, device.Set(), device.Element(), true, installResult);
}

// A value under the per-user print settings key.
inline StoredValue UserSetting(BehaviourWorld& world, const WCHAR* name) {
    return world.ReadValue(HKEY_CURRENT_USER, names::printSettingsKey, name);
}

// Removes the co-installer's state so that a step starts from a machine that never saw it; the tracker's
// switches stay.
inline void ForgetCoInstallerState(BehaviourWorld& world) {
    world.DeleteKeyTree(HKEY_CURRENT_USER, names::printSettingsKey);
    world.DeleteKeyTree(HKEY_LOCAL_MACHINE, names::printSettingsKey);
    world.DeleteKeyTree(HKEY_LOCAL_MACHINE, names::defaultCompanionKey);
    world.DeleteKeyTree(HKEY_LOCAL_MACHINE, names::alternateCompanionKey);
}

// What the pre pass leaves for the post pass: install context 2 and the queue's original name.
inline void StorePrePassState(BehaviourWorld& world, const WCHAR* queueName) {
    ForgetCoInstallerState(world);
    world.WriteDword(HKEY_CURRENT_USER, names::printSettingsKey, names::installContext, 2);
    world.WriteText(HKEY_CURRENT_USER, names::printSettingsKey, names::originalPrinterName, queueName);
}

inline bool CompanionKeysUntouched(BehaviourWorld& world) {
    return !world.KeyExists(HKEY_LOCAL_MACHINE, names::defaultCompanionKey) &&
           !world.KeyExists(HKEY_LOCAL_MACHINE, names::alternateCompanionKey);
}

// "REG_SZ", "REG_DWORD", ... for messages.
inline const char* TypeName(DWORD type) {
    return RegistryTypeName(type);
}

} // namespace behaviour

// Loads the build of the module, or ends the test as skipped with the reason.
#define LOAD_MODULE_OR_SKIP(build) SKIP_UNLESS_PREPARED(world.LoadModule(build))

// Declares `name`, a registered device, or ends the test as failed with the service's reason.
#define ADD_DEVICE_OR_FAIL(name, enumerator, description, setupClass)                                        \
    std::string name##Why;                                                                                   \
    std::unique_ptr<WorldDevice> name = world.AddDevice(enumerator, description, setupClass, &name##Why);    \
    ASSERT_TRUE(name != nullptr) << "cannot register the device: " << name##Why
