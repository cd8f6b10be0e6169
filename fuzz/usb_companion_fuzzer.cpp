// The USB companion binding, driven through the co-installer's pre pass: the printer's instance
// identifier, its hardware key's PortName, the selector CurrentDeviceType and each companion key's
// BulkInstanceID (any type, any length), and companion devices whose identifiers, presence and interface
// classes (and so their interface device paths and keys) the input makes.
//
// Without an armed failure the place of the port name is predicted from the input and checked; with one,
// only that a port name, wherever it went, is the printer's.
//
// Input: printer identifier (blob), element null (flag), Wine's last-error behaviour (flag), PortName
// (present flag, type, blob), CurrentDeviceType (likewise), for each companion key BulkInstanceID
// (likewise), a companion count (byte), per companion its identifier (blob), interface class (byte) and
// presence (flag), and an armed failure (3 bytes).
#include "coinstaller/coinstaller_entry.h"
#include "simulated_world.h"

#include <vector>

using fuzz::Expect;

namespace {

const std::u16string settingsKey = u"Software\\Orvale\\OV Print Settings";
const std::u16string companionKeys[2] = {u"Software\\Orvale\\{28DD0066-0674-42c2-AFAE-8D691AFEDEA8}",
                                         u"Software\\Orvale\\{28DD0067-0674-42c2-AFAE-8D691AFEDEA8}"};
// The default and the alternate companion's interface classes, and one that neither uses.
const GUID interfaceClasses[3] = {
    {0xA6AF917D, 0x48E9, 0x459A, {0x95, 0xA1, 0x3B, 0x9C, 0xD2, 0x4D, 0x91, 0xE3}},
    {0x211CD2C1, 0xA63E, 0x4164, {0x9E, 0x17, 0xFD, 0xA3, 0xFE, 0x1F, 0x79, 0xFF}},
    {0x12345678, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}},
};

void Seed(const std::u16string& path, const std::u16string& name, const fuzz::SeededValue& value) {
    if (value.present) {
        winsim::SetValue(HKEY_LOCAL_MACHINE, path, name, value.type, value.data);
    }
}

// A device of the simulated machine as the test knows it: identifiers compare without regard to letter
// case, the first spelling stays, and a later mention changes only its presence.
struct KnownDevice {
    std::u16string instanceId;
    bool present = true;
    std::vector<std::pair<int, std::u16string>> interfaces; // class index, interface key path
};

KnownDevice& Mention(std::vector<KnownDevice>& devices, const std::u16string& instanceId, bool present) {
    for (KnownDevice& device : devices) {
        if (fuzz::SameName(device.instanceId, instanceId)) {
            device.present = present;
            return device;
        }
    }
    devices.push_back(KnownDevice{instanceId, present, {}});
    return devices.back();
}

// The key that must hold PortName after the pass, or "" when none may.
std::u16string ExpectedPortNameKey(bool portApplies, const fuzz::SeededValue& selector,
                                   const fuzz::SeededValue (&instanceValues)[2],
                                   const std::vector<KnownDevice>& devices) {
    if (!portApplies) {
        return u"";
    }
    // The selector's bytes land in a variable that starts at 0; a value longer than 4 bytes is not read.
    DWORD chosen = 0;
    if (selector.present && selector.data.size() <= sizeof(DWORD)) {
        for (size_t i = 0; i < selector.data.size(); ++i) {
            chosen |= static_cast<DWORD>(selector.data[i]) << (8 * i);
        }
    }
    int companion = chosen != 0 ? 1 : 0;
    const fuzz::SeededValue& instance = instanceValues[companion];
    if (!instance.present || !fuzz::IsStringType(instance.type) || instance.data.empty()) {
        return companionKeys[companion];
    }
    std::u16string storedId = Utf16Text(instance.data);
    // The listed devices' identifiers are read into 2048 characters, terminator included.
    if (storedId.size() >= 2048) {
        return u"";
    }
    for (const KnownDevice& device : devices) {
        if (!device.present || device.instanceId != storedId) {
            continue;
        }
        for (const auto& iface : device.interfaces) {
            if (iface.first == companion) {
                return iface.second;
            }
        }
    }
    return u"";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput input(data, size);
    fuzz::StartInput();

    std::vector<KnownDevice> devices;
    std::u16string printerId = input.Name();
    Mention(devices, printerId, true);
    winsim::AddDevice(printerId);
    bool withoutElement = input.Flag();
    winsim::KeepLastErrorOnSuccess(input.Flag());

    std::u16string hardwareKey = u"System\\CurrentControlSet\\Enum\\" + printerId + u"\\Device Parameters";
    fuzz::SeededValue port = fuzz::ReadSeededValue(input, input.Flag());
    Seed(hardwareKey, u"PortName", port);
    fuzz::SeededValue selector = fuzz::ReadSeededValue(input, input.Flag());
    Seed(settingsKey, u"CurrentDeviceType", selector);
    fuzz::SeededValue instanceValues[2];
    for (int companion = 0; companion < 2; ++companion) {
        instanceValues[companion] = fuzz::ReadSeededValue(input, input.Flag());
        Seed(companionKeys[companion], u"BulkInstanceID", instanceValues[companion]);
    }

    std::vector<std::u16string> interfaceKeys;
    unsigned companions = input.Byte() % 5;
    for (unsigned i = 0; i < companions; ++i) {
        std::u16string instanceId = input.Name();
        int interfaceClass = input.Byte() % 3;
        bool present = !input.Flag();
        winsim::AddDevice(instanceId, present);
        std::u16string key = winsim::AddInterface(instanceId, interfaceClasses[interfaceClass]);
        Mention(devices, instanceId, present).interfaces.emplace_back(interfaceClass, key);
        interfaceKeys.push_back(key);
    }

    SP_DEVINFO_DATA element = SP_DEVINFO_DATA();
    HDEVINFO set = winsim::CreateDeviceSet(printerId, &element);
    bool failureArmed = fuzz::ArmFailure(
        input, {"RegOpenKeyExW", "RegCreateKeyExW", "RegQueryValueExW", "RegSetValueExW", "RegDeleteValueW",
                "SetupDiGetDeviceInstanceIdW", "SetupDiGetClassDevsW", "SetupDiEnumDeviceInterfaces",
                "SetupDiGetDeviceInterfaceDetailW", "SetupDiCreateDeviceInterfaceRegKeyW"});

    COINSTALLER_CONTEXT_DATA context = {FALSE, NO_ERROR, nullptr};
    DWORD answer =
        VRACoInstallerEntryProc(DIF_INSTALLDEVICE, set, withoutElement ? nullptr : &element, &context);
    winsim::ClearFailures();
    Expect(answer == static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED),
           "the pre pass answered " + std::to_string(answer));
    SetupDiDestroyDeviceInfoList(set);
    fuzz::ExpectNothingLeftOpen("the pre pass");

    std::u16string portText = Utf16Text(port.data);
    bool portApplies = !withoutElement && port.present && fuzz::IsStringType(port.type) &&
                       !port.data.empty() && portText.find(u"USB") != std::u16string::npos;
    winsim::Bytes portBytes = winsim::StringBytes(portText);

    // Every place the port name may go, each path once.
    std::vector<std::u16string> places = {companionKeys[0], companionKeys[1]};
    for (const std::u16string& key : interfaceKeys) {
        bool known = false;
        for (const std::u16string& place : places) {
            known = known || fuzz::SameName(place, key);
        }
        if (!known) {
            places.push_back(key);
        }
    }
    std::u16string expected = ExpectedPortNameKey(portApplies, selector, instanceValues, devices);
    for (const std::u16string& place : places) {
        DWORD type = 0;
        winsim::Bytes written;
        bool holds = winsim::GetValue(HKEY_LOCAL_MACHINE, place, u"PortName", &type, &written);
        if (holds) {
            Expect(portApplies, "a port name was written for a port that does not bind");
            Expect(type == REG_SZ && written == portBytes, "the port name written is not the printer's");
        }
        if (!failureArmed) {
            Expect(holds == fuzz::SameName(place, expected),
                   holds ? "the port name went to the wrong place" : "the port name did not arrive");
        }
    }
    if (selector.present && !failureArmed) {
        Expect(winsim::ValueExists(HKEY_LOCAL_MACHINE, settingsKey, u"CurrentDeviceType") == !portApplies,
               portApplies ? "the selector was not consumed"
                           : "the selector was consumed by a port that does not bind");
    }
    return 0;
}
