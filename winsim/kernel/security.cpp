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

bool IsUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

// The SID abbreviations of the well-known accounts and groups that the simulation knows.
const char* const kSidAbbreviations[] = {"AN", "AO", "AU", "BA", "BG", "BO", "BU", "CG", "CO", "IU",
                                         "LA", "LG", "LS", "NS", "NU", "PU", "SO", "SU", "SY", "WD"};

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A well-known abbreviation (SY, BA, WD, ...) or "S-1-" and numbers parted by hyphens.
bool IsSid(const SimString& sid) {
    for (const char* abbreviation : kSidAbbreviations) {
        if (sid == abbreviation) {
            return true;
        }
    }
    if (sid.compare(0, 4, "S-1-") != 0 || sid.size() == 4 || sid.back() == '-') {
        return false;
    }
    for (size_t i = 4; i < sid.size(); ++i) {
        if (!(sid[i] >= '0' && sid[i] <= '9') && !(sid[i] == '-' && sid[i - 1] != '-')) {
            return false;
        }
    }
    return true;
}

// Rights: "0x" and hex digits, or abbreviations of two capitals each (FA, GRGW, ...).
bool IsRights(const SimString& rights) {
    if (rights.compare(0, 2, "0x") == 0) {
        return rights.size() > 2 &&
               rights.find_first_not_of("0123456789abcdefABCDEF", 2) == SimString::npos &&
               IsHexDigit(rights.back());
    }
    if (rights.empty() || rights.size() % 2 != 0) {
        return false;
    }
    for (char c : rights) {
        if (!IsUpper(c)) {
            return false;
        }
    }
    return true;
}

// "(type;flags;rights;object;inherited object;sid)": type A or D, the flags capitals in pairs, the two
// object GUIDs empty.
bool IsAce(const SimString& ace) {
    SimVector<SimString> fields(1);
    for (char c : ace) {
        if (c == ';') {
            fields.emplace_back();
        } else {
            fields.back().push_back(c);
        }
    }
    if (fields.size() != 6 || (fields[0] != "A" && fields[0] != "D") || fields[1].size() % 2 != 0) {
        return false;
    }
    for (char c : fields[1]) {
        if (!IsUpper(c)) {
            return false;
        }
    }
    return IsRights(fields[2]) && fields[3].empty() && fields[4].empty() && IsSid(fields[5]);
}

// An ACL's part of the text: its flags (P, AI, AR, NO_ACCESS_CONTROL), then its aces.
bool IsAcl(const SimString& acl) {
    size_t at = 0;
    while (at < acl.size() && acl[at] != '(') {
        if (acl.compare(at, 1, "P") == 0) {
            at += 1;
        } else if (acl.compare(at, 2, "AI") == 0 || acl.compare(at, 2, "AR") == 0) {
            at += 2;
        } else if (acl.compare(at, 17, "NO_ACCESS_CONTROL") == 0) {
            at += 17;
        } else {
            return false;
        }
    }
    while (at < acl.size()) {
        size_t close = acl.find(')', at);
        if (acl[at] != '(' || close == SimString::npos) {
            return false;
        }
        if (!IsAce(acl.substr(at + 1, close - at - 1))) {
            return false;
        }
        at = close + 1;
    }
    return true;
}

// Sections "O:", "G:", "D:" and "S:", each at most once; a section runs to the next one. No section at all
// is a descriptor without owner, group or lists.
bool IsDescriptorText(const SimString& text) {
    SimString seen;
    size_t at = 0;
    while (at < text.size()) {
        if (at + 1 >= text.size() || text[at + 1] != ':' ||
            SimString("OGDS").find(text[at]) == SimString::npos || seen.find(text[at]) != SimString::npos) {
            return false;
        }
        const char section = text[at];
        seen.push_back(section);
        size_t end = at + 2;
        int depth = 0;
        while (end < text.size() && (depth > 0 || end + 1 >= text.size() || text[end + 1] != ':')) {
            depth += text[end] == '(' ? 1 : text[end] == ')' ? -1 : 0;
            ++end;
        }
        const SimString body = text.substr(at + 2, end - at - 2);
        const bool valid = (section == 'O' || section == 'G') ? IsSid(body) : IsAcl(body);
        if (!valid) {
            return false;
        }
        at = end;
    }
    return true;
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
    if (!IsDescriptorText(text)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
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
