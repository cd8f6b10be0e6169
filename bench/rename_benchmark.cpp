#include "bench/rename_benchmark.h"

#include "bench/module_under_bench.h"
#include "coinstaller/tests/install_scenario.h"

using namespace coinstaller_test;

namespace vracoins_bench {

namespace {

const std::u16string queueName = u"VRA Alpha Queue";
const std::u16string composedName = u"Alpha 100 VRA PCL 6";
const std::u16string driverName = u"Example PCL 6 Driver";
const std::u16string port = u"USB001";

std::u16string CopyName(size_t copy) {
    std::string number = std::to_string(copy);
    return composedName + u" (Copy " + std::u16string(number.begin(), number.end()) + u")";
}

// The queue as the installation leaves it before the post pass, with its name stored for the pass.
void PrepareQueue() {
    AddQueue(queueName, driverName, port, u"Alpha 100");
    winsim::SetStringValue(HKEY_CURRENT_USER, userSettingsKey, u"InstallContextOriginalPrinterName",
                           queueName);
}

} // namespace

void RunRenameWorkload(benchmark::State& state, size_t existing) {
    std::string problem;
    if (!BenchModule().Use(ModuleBuild::Shipped, 0, &problem)) {
        state.SkipWithError(problem.c_str());
        return;
    }
    winsim::Reset();
    PrinterDevice printer;
    printer.SetPort(port);
    printer.SetDescription(u"Alpha 100 Printer");
    winsim::AddPrinter(composedName, driverName, u"USB002");
    for (size_t copy = 1; copy < existing; ++copy) {
        winsim::AddPrinter(CopyName(copy), driverName, u"USB002");
    }
    PrepareQueue();
    const std::u16string expected = CopyName(existing);
    COINSTALLER_CONTEXT_DATA post = {TRUE, NO_ERROR, nullptr};
    CoInstallerEntry entry = BenchModule().entry();

    for (auto _ : state) {
        entry(DIF_INSTALLDEVICE, printer.Set(), printer.Element(), &post);
        state.PauseTiming();
        bool renamed = winsim::PrinterExists(expected) && !winsim::PrinterExists(queueName);
        if (renamed) {
            winsim::RemovePrinter(expected);
            PrepareQueue();
        }
        state.ResumeTiming();
        if (!renamed) {
            state.SkipWithError("the post pass did not rename the queue to the next free copy");
            break;
        }
    }
    printer.Release();
    winsim::Reset();
}

} // namespace vracoins_bench
