// The simulation's table of kernel object handles; see handle_table.h.
#include "winsim/core/handle_table.h"

#include <map>
#include <memory>
#include <mutex>

namespace winsim_detail {
namespace {

std::mutex tableLock;
std::map<ULONG_PTR, std::unique_ptr<KernelObject>>& Table() {
    static auto* table = new std::map<ULONG_PTR, std::unique_ptr<KernelObject>>();
    return *table;
}
// Kernel handles are multiples of 4 on Windows; start well away from null and the pseudo handles.
ULONG_PTR nextHandle = 0x1000;

} // namespace

HANDLE NewHandle(KernelObject* object) {
    std::lock_guard<std::mutex> guard(tableLock);
    ULONG_PTR value = nextHandle;
    nextHandle += 4;
    Table()[value].reset(object);
    return reinterpret_cast<HANDLE>(value);
}

KernelObject* LookupHandle(HANDLE handle) {
    std::lock_guard<std::mutex> guard(tableLock);
    auto found = Table().find(reinterpret_cast<ULONG_PTR>(handle));
    return found == Table().end() ? nullptr : found->second.get();
}

bool CloseKernelHandle(HANDLE handle) {
    std::unique_ptr<KernelObject> closing;
    {
        std::lock_guard<std::mutex> guard(tableLock);
        auto found = Table().find(reinterpret_cast<ULONG_PTR>(handle));
        if (found == Table().end()) {
            return false;
        }
        closing = std::move(found->second);
        Table().erase(found);
    }
    return true;
}

size_t OpenKernelHandleCount() {
    std::lock_guard<std::mutex> guard(tableLock);
    return Table().size();
}

} // namespace winsim_detail
