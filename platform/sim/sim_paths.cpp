// Drive mapping of the simulation: Z: is the host's root; other letters map to directories that tests
// choose (winsim::MapDrive). Letter case of drive letters does not matter; path letter case does, as on
// a Linux file system (Wine behaves the same for files it did not create).
#include "sim_paths.h"

#include "sim_control.h"

#include <cctype>
#include <map>
#include <mutex>

namespace {

std::mutex driveLock;
std::map<char, std::string>& Drives() {
    static auto* drives = new std::map<char, std::string>{{'z', ""}};
    return *drives;
}

}  // namespace

namespace winsim {

void MapDrive(char letter, const std::string& hostDirectory) {
    std::lock_guard<std::mutex> guard(driveLock);
    std::string root = hostDirectory;
    while (!root.empty() && root.back() == '/') {
        root.pop_back();
    }
    Drives()[static_cast<char>(std::tolower(static_cast<unsigned char>(letter)))] = root;
}

}  // namespace winsim

namespace winsim_detail {

std::string ToHostPath(const std::string& windowsPath) {
    if (windowsPath.size() < 2 || windowsPath[1] != ':' || !std::isalpha(static_cast<unsigned char>(windowsPath[0]))) {
        return std::string();
    }
    std::string root;
    {
        std::lock_guard<std::mutex> guard(driveLock);
        auto found = Drives().find(static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0]))));
        if (found == Drives().end()) {
            return std::string();
        }
        root = found->second;
    }
    std::string rest = windowsPath.substr(2);
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

}  // namespace winsim_detail
