// The simulated machine of a printer installation: the printer's device node with its hardware key and
// description, the companion devices with their interfaces, and the print queues.
#pragma once

#include "winsim/control/all.h"
#include "platform/platform.h"

#include <string>

namespace coinstaller_test {

// Places that the system under test uses, spelt out here independently of the module's own constants.
const std::u16string userSettingsKey = u"Software\\Orvale\\OV Print Settings";
const std::u16string machineSettingsKey = u"Software\\Orvale\\OV Print Settings";
const std::u16string defaultCompanionKey = u"Software\\Orvale\\{28DD0066-0674-42c2-AFAE-8D691AFEDEA8}";
const std::u16string alternateCompanionKey = u"Software\\Orvale\\{28DD0067-0674-42c2-AFAE-8D691AFEDEA8}";
// {A6AF917D-48E9-459A-95A1-3B9CD24D91E3} and {211CD2C1-A63E-4164-9E17-FDA3FE1F79FF}
const GUID defaultCompanionClass = {
    0xA6AF917D, 0x48E9, 0x459A, {0x95, 0xA1, 0x3B, 0x9C, 0xD2, 0x4D, 0x91, 0xE3}};
const GUID alternateCompanionClass = {
    0x211CD2C1, 0xA63E, 0x4164, {0x9E, 0x17, 0xFD, 0xA3, 0xFE, 0x1F, 0x79, 0xFF}};
// Some other interface class, present on the same machine.
const GUID unrelatedClass = {0x12345678, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};

const std::u16string printerInstanceId = u"USBPRINT\\VRAALPHA_100\\7&2F3A1B&0&USB001";
const std::u16string companionInstanceId = u"USB\\VID_1A2B&PID_0C01\\5&3C4D&0&2";

inline std::u16string HardwareKey(const std::u16string& instanceId) {
    return u"System\\CurrentControlSet\\Enum\\" + instanceId + u"\\Device Parameters";
}

// A printer device as the installation service presents it, with its port in the hardware key.
class PrinterDevice {
  public:
    explicit PrinterDevice(const std::u16string& instanceId = printerInstanceId) : instanceId_(instanceId) {
        winsim::AddDevice(instanceId_);
    }
    ~PrinterDevice() { Release(); }
    PrinterDevice(const PrinterDevice&) = delete;
    PrinterDevice& operator=(const PrinterDevice&) = delete;

    void SetPort(const std::u16string& port) {
        winsim::SetStringValue(HKEY_LOCAL_MACHINE, HardwareKey(instanceId_), u"PortName", port);
    }
    void SetDescription(const std::u16string& text) {
        winsim::SetDeviceStringProperty(instanceId_, SPDRP_DEVICEDESC, text);
    }
    // The set and element of the request; the set is destroyed by Release.
    HDEVINFO Set() {
        if (set_ == nullptr) {
            element_ = SP_DEVINFO_DATA();
            element_.cbSize = sizeof(SP_DEVINFO_DATA);
            set_ = winsim::CreateDeviceSet(instanceId_, &element_);
        }
        return set_;
    }
    PSP_DEVINFO_DATA Element() {
        Set();
        return &element_;
    }
    void Release() {
        if (set_ != nullptr) {
            SetupDiDestroyDeviceInfoList(set_);
            set_ = nullptr;
        }
    }
    const std::u16string& InstanceId() const { return instanceId_; }

  private:
    std::u16string instanceId_;
    HDEVINFO set_ = nullptr;
    SP_DEVINFO_DATA element_ = SP_DEVINFO_DATA();
};

// A companion device with an interface of `interfaceClass`; returns the interface key's HKLM path.
inline std::u16string AddCompanion(const std::u16string& instanceId, const GUID& interfaceClass,
                                   bool present = true) {
    winsim::AddDevice(instanceId, present);
    return winsim::AddInterface(instanceId, interfaceClass);
}

// A print queue whose printer data under its port's name holds `dataText`.
inline void AddQueue(const std::u16string& name, const std::u16string& driver, const std::u16string& port,
                     const std::u16string& dataText) {
    winsim::AddPrinter(name, driver, port);
    winsim::SetPrinterStringData(name, port, dataText);
}

} // namespace coinstaller_test
