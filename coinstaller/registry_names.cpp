#include "coinstaller/registry_names.h"

// Built in this order when the module loads; the marker comes first.
WideString usbPortMarker(W("USB"));
WideString portValueName(W("PortName"));
WideString settingsKeyPath(W("Software\\Orvale\\OV Print Settings"));
WideString deviceTypeValueName(W("CurrentDeviceType"));
WideString bulkInstanceValueName(W("BulkInstanceID"));
WideString defaultCompanionKeyPath(W("Software\\Orvale\\{28DD0066-0674-42c2-AFAE-8D691AFEDEA8}"));
WideString alternateCompanionKeyPath(W("Software\\Orvale\\{28DD0067-0674-42c2-AFAE-8D691AFEDEA8}"));

// {A6AF917D-48E9-459A-95A1-3B9CD24D91E3}
const GUID defaultCompanionInterfaceClass = {
    0xA6AF917D, 0x48E9, 0x459A, {0x95, 0xA1, 0x3B, 0x9C, 0xD2, 0x4D, 0x91, 0xE3}};
// {211CD2C1-A63E-4164-9E17-FDA3FE1F79FF}
const GUID alternateCompanionInterfaceClass = {
    0x211CD2C1, 0xA63E, 0x4164, {0x9E, 0x17, 0xFD, 0xA3, 0xFE, 0x1F, 0x79, 0xFF}};
