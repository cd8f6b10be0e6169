// Security descriptors of the simulation; see security.h for what is modelled.
#include "winsim/control/kernel.h"
#include "winsim/core/entry.h"
#include "winsim/core/text.h"
#include "winsim/kernel/global_memory_store.h"
#include "winsim/kernel/last_error.h"
#include "winsim/kernel/security_store.h"

#include <cstring>

using namespace winsim_detail;

namespace {

// A descriptor handed out: a block of its own, whose address is the handle, holding the text.
struct Descriptor {
    char text[1];
};

SimMap<void*, SimString>& Descriptors() {
    static auto* descriptors = new (std::malloc(sizeof(SimMap<void*, SimString>))) SimMap<void*, SimString>();
    return *descriptors;
}

SimString Narrow(const SimWString& text) {
    SimString narrow;
    for (char16_t unit : text) {
        narrow.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return narrow;
}

} // namespace

namespace winsim_detail {

bool DescriptorText(PSECURITY_DESCRIPTOR descriptor, SimString* text) {
    auto found = Descriptors().find(descriptor);
    if (found == Descriptors().end()) {
        return false;
    }
    *text = found->second;
    return true;
}

} // namespace winsim_detail

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR StringSecurityDescriptor,
                                                                 DWORD StringSDRevision,
                                                                 PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                                 PULONG SecurityDescriptorSize) {
    PlatformCall call("ConvertStringSecurityDescriptorToSecurityDescriptorW");
    if (call.FailsWithLastError()) {
        return FALSE;
    }
    if (StringSecurityDescriptor == nullptr || SecurityDescriptor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (StringSDRevision != SDDL_REVISION_1) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    const SimString text = Narrow(FromWide(StringSecurityDescriptor));
    auto* descriptor = static_cast<Descriptor*>(std::malloc(sizeof(Descriptor) + text.size()));
    std::memcpy(descriptor->text, text.c_str(), text.size() + 1);
    Descriptors()[descriptor] = text;
    *SecurityDescriptor = descriptor;
    if (SecurityDescriptorSize != nullptr) {
        *SecurityDescriptorSize = static_cast<ULONG>(sizeof(Descriptor) + text.size());
    }
    return TRUE;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    return FreeFixedBlock("LocalFree", hMem, [](void* block) { return Descriptors().erase(block) != 0; });
}

namespace winsim {

size_t SecurityDescriptorCount() {
    ControlCall call;
    return Descriptors().size();
}

} // namespace winsim
