#include "winsim/kernel/loaded_modules.h"

#include <climits>
#include <link.h>
#include <unistd.h>

namespace winsim_detail {
namespace {

SimString ExecutablePath() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    return length > 0 ? SimString(path, static_cast<size_t>(length)) : SimString();
}

struct Walk {
    SimVector<LoadedModule> modules;
    bool first = true;
};

int AddModule(dl_phdr_info* info, size_t, void* context) {
    auto* walk = static_cast<Walk*>(context);
    // The dynamic linker lists the executable first, with an empty name.
    SimString path = walk->first ? ExecutablePath() : SimString(info->dlpi_name);
    walk->first = false;
    if (path.empty() || path[0] != '/') {
        return 0;
    }
    const ULONG_PTR pageMask = ~(static_cast<ULONG_PTR>(sysconf(_SC_PAGESIZE)) - 1);
    LoadedModule module{~ULONG_PTR(0), info->dlpi_addr, 0, path};
    for (int index = 0; index < info->dlpi_phnum; ++index) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[index];
        if (segment.p_type != PT_LOAD) {
            continue;
        }
        ULONG_PTR start = info->dlpi_addr + segment.p_vaddr;
        if ((start & pageMask) < module.base) {
            module.base = start & pageMask;
        }
        if (start + segment.p_memsz > module.end) {
            module.end = start + segment.p_memsz;
        }
    }
    if (module.end != 0) {
        walk->modules.push_back(module);
    }
    return 0;
}

} // namespace

SimVector<LoadedModule> LoadedModules() {
    Walk walk;
    dl_iterate_phdr(AddModule, &walk);
    return walk.modules;
}

bool FindModuleByBase(ULONG_PTR base, LoadedModule* module) {
    for (const LoadedModule& candidate : LoadedModules()) {
        if (candidate.base == base) {
            *module = candidate;
            return true;
        }
    }
    return false;
}

bool FindModuleByAddress(ULONG_PTR address, LoadedModule* module) {
    for (const LoadedModule& candidate : LoadedModules()) {
        if (candidate.base <= address && address < candidate.end) {
            *module = candidate;
            return true;
        }
    }
    return false;
}

} // namespace winsim_detail
