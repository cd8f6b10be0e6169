// The system's own names that the behaviour checks seed and inspect: where the co-installer keeps its
// state, the companions' keys and interface classes, and the tracker's switches and note.
#pragma once

#include "platform/platform.h"
#include "platform/portability.h"

namespace names {

// Per-user install context (under HKEY_CURRENT_USER) and machine-wide companion selector (under
// HKEY_LOCAL_MACHINE) share one path.
const WCHAR* const printSettingsKey = W("Software\\Orvale\\OV Print Settings");
const WCHAR* const installContext = W("InstallContext");
const WCHAR* const originalPrinterName = W("InstallContextOriginalPrinterName");
const WCHAR* const currentDeviceType = W("CurrentDeviceType");

// The two kinds of USB companion, each with its own key under HKEY_LOCAL_MACHINE and its own device
// interface class.
const WCHAR* const defaultCompanionKey = W("Software\\Orvale\\{28DD0066-0674-42c2-AFAE-8D691AFEDEA8}");
const WCHAR* const alternateCompanionKey = W("Software\\Orvale\\{28DD0067-0674-42c2-AFAE-8D691AFEDEA8}");
constexpr GUID defaultCompanionInterface = {
    0xA6AF917D, 0x48E9, 0x459A, {0x95, 0xA1, 0x3B, 0x9C, 0xD2, 0x4D, 0x91, 0xE3}};
constexpr GUID alternateCompanionInterface = {
    0x211CD2C1, 0xA63E, 0x4164, {0x9E, 0x17, 0xFD, 0xA3, 0xFE, 0x1F, 0x79, 0xFF}};
const WCHAR* const bulkInstanceId = W("BulkInstanceID");
const WCHAR* const portName = W("PortName");

// The Printer device setup class, and one for companions (which class does not matter to them).
constexpr GUID printerSetupClass = {
    0x4D36E979, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr GUID otherDevicesSetupClass = {
    0x4D36E97E, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// The tracker's switches (HKEY_LOCAL_MACHINE) and the note it leaves about a leaking module
// (HKEY_CURRENT_USER).
const WCHAR* const trackerKey = W("SOFTWARE\\Orvale\\DIZadaridi");
const WCHAR* const trackMemoryAllocation = W("TrackMemoryAllocation");
const WCHAR* const trackMemoryLogLocation = W("TrackMemoryLogLocation");
const WCHAR* const trackMemoryFailSize = W("TrackMemoryFailSize");
const WCHAR* const leakNoteKey = W("Software\\Orvale\\ZID-Azo");
const WCHAR* const leakedModule = W("LeakedModule");

// What a co-installer answers when it wants the post-processing pass.
constexpr DWORD postProcessingRequired = ERROR_DI_POSTPROCESSING_REQUIRED;

} // namespace names
