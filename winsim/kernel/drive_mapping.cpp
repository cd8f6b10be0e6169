// Drive mapping of the simulation: Z: is the host's root; other letters map to directories that tests
// choose (winsim::MapDrive). Letter case of drive letters does not matter; path letter case does, as on
// a Linux file system (Wine behaves the same for files it did not create).
#include "winsim/kernel/drive_mapping.h"

#include "winsim/control/kernel.h"

#include <cctype>
#include <map>
#include <mutex>

namespace {

using winsim_detail::SimMap;
using winsim_detail::SimString;

std::mutex driveLock;
// Never destroyed, and malloc'd: see ToHostPath.
SimMap<char, SimString>& Drives() {
    static auto* drives =
        new (std::malloc(sizeof(SimMap<char, SimString>))) SimMap<char, SimString>{{'z', ""}};
    return *drives;
}

} // namespace

namespace winsim {

void MapDrive(char letter, const std::string& hostDirectory) {
    std::lock_guard<std::mutex> guard(driveLock);
    SimString root(hostDirectory.c_str(), hostDirectory.size());
    while (!root.empty() && root.back() == '/') {
        root.pop_back();
    }
    Drives()[static_cast<char>(std::tolower(static_cast<unsigned char>(letter)))] = root;
}

} // namespace winsim

namespace winsim_detail {

SimString ToHostPath(const char* windowsPath) {
    if (windowsPath == nullptr || windowsPath[0] == 0 || windowsPath[1] != ':' ||
        !std::isalpha(static_cast<unsigned char>(windowsPath[0]))) {
        return SimString();
    }
    SimString root;
    {
        std::lock_guard<std::mutex> guard(driveLock);
        auto found =
            Drives().find(static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0]))));
        if (found == Drives().end()) {
            return SimString();
        }
        root = found->second;
    }
    SimString rest(windowsPath + 2);
    for (char& c : rest) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (rest.empty() || rest[0] != '/') {
        rest.insert(rest.begin(), '/');
    }
    return root + rest;
}

std::string ToWindowsPath(const std::string& hostPath) {
    std::string result = "Z:";
    for (char c : hostPath) {
        result.push_back(c == '/' ? '\\' : c);
    }
    return result;
}

} // namespace winsim_detail
