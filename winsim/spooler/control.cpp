// Test-facing control of the simulated print spooler: seeding local printers and their printer data,
// removing printers under open handles, and reading back names and calls.
#include "winsim/control/spooler.h"
#include "winsim/core/entry.h"
#include "winsim/core/text.h"
#include "winsim/registry/registry.h"
#include "winsim/spooler/store.h"

using namespace winsim_detail;

namespace winsim {

void AddPrinter(const std::u16string& name, const std::u16string& driver, const std::u16string& port) {
    ControlCall call;
    std::shared_ptr<Printer> printer = FindPrinter(ToSim(name));
    if (!printer) {
        printer = MakeShared<Printer>();
        Spooler().printers.push_back(printer);
    }
    printer->name = ToSim(name);
    printer->driver = ToSim(driver);
    printer->port = ToSim(port);
}

bool PrinterExists(const std::u16string& name) {
    ControlCall call;
    for (const auto& printer : Spooler().printers) {
        if (printer->name == ToSim(name)) {
            return true;
        }
    }
    return false;
}

std::vector<std::u16string> PrinterNames() {
    ControlCall call;
    std::vector<std::u16string> names;
    for (const auto& printer : Spooler().printers) {
        names.push_back(FromSim(printer->name));
    }
    return names;
}

void SetPrinterData(const std::u16string& printer, const std::u16string& valueName, DWORD type,
                    const Bytes& data) {
    ControlCall call;
    std::shared_ptr<Printer> target = FindPrinter(ToSim(printer));
    if (!target) {
        return;
    }
    SimWString name = ToSim(valueName);
    for (PrinterDataValue& value : target->data) {
        if (EqualsIgnoringCase(value.name, name)) {
            value.type = type;
            value.data.assign(data.begin(), data.end());
            return;
        }
    }
    target->data.push_back(PrinterDataValue{name, type, SimVector<BYTE>(data.begin(), data.end())});
}

void SetPrinterStringData(const std::u16string& printer, const std::u16string& valueName,
                          const std::u16string& text) {
    SetPrinterData(printer, valueName, REG_SZ, StringBytes(text, true));
}

void RemovePrinter(const std::u16string& name) {
    ControlCall call;
    auto& printers = Spooler().printers;
    for (auto it = printers.begin(); it != printers.end(); ++it) {
        if (EqualsIgnoringCase((*it)->name, ToSim(name))) {
            (*it)->removed = true;
            printers.erase(it);
            return;
        }
    }
}

std::u16string LastPrinterDataValueName() {
    ControlCall call;
    return FromSim(Spooler().lastDataValueName);
}

std::vector<DWORD> SetPrinterLevels() {
    ControlCall call;
    return std::vector<DWORD>(Spooler().setPrinterLevels.begin(), Spooler().setPrinterLevels.end());
}

size_t OpenPrinterCount() {
    ControlCall call;
    return Spooler().handles.size();
}

} // namespace winsim
