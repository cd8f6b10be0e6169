// State of the simulated print spooler.
#include "winsim/spooler/store.h"

#include "winsim/core/text.h"

namespace winsim_detail {
namespace {

// Printer handles are pointers on Windows; a range of their own keeps them apart from the simulation's
// key and device set handles.
constexpr ULONG_PTR kFirstPrinterHandle = 0xC00000;

} // namespace

SpoolerState& Spooler() {
    // Never destroyed: see the note on the failure state.
    static SpoolerState* state = [] {
        auto* created = new (std::malloc(sizeof(SpoolerState))) SpoolerState();
        created->nextHandle = kFirstPrinterHandle;
        return created;
    }();
    return *state;
}

std::shared_ptr<Printer> FindPrinter(const SimWString& name) {
    for (const auto& printer : Spooler().printers) {
        if (EqualsIgnoringCase(printer->name, name)) {
            return printer;
        }
    }
    return nullptr;
}

void ResetSpooler() {
    SpoolerState& state = Spooler();
    for (const auto& printer : state.printers) {
        printer->removed = true;
    }
    state.printers.clear();
    state.handles.clear();
    state.lastDataValueName.clear();
    state.setPrinterLevels.clear();
}

} // namespace winsim_detail
