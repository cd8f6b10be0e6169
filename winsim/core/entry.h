// The way into the simulated world. Every simulated Win32 function opens a PlatformCall on entry: it
// marks the thread as inside the platform (winsim::InPlatformCall), takes the world lock, counts the
// call by its Win32 name and consults the failures that tests arm with winsim::FailCall. Control
// functions open a ControlCall, which does the first two only. Internal to winsim; other parts of
// the simulation may use it for their own services.
#pragma once

#include "winsim/kernel/last_error.h"

#include "winsim/kernel/types.h"

#include <mutex>

namespace winsim_detail {

// One lock for the registry, device, spooler and global-memory state. Recursive, because allocation
// hooks of the code under test may call back into the registry while the simulation allocates.
std::recursive_mutex& WorldLock();

// Keeps the calling thread marked as inside the platform for its lifetime (nests).
class PlatformDepth {
  public:
    PlatformDepth();
    ~PlatformDepth();
    PlatformDepth(const PlatformDepth&) = delete;
    PlatformDepth& operator=(const PlatformDepth&) = delete;
};

class PlatformCall {
  public:
    // `name` is the Win32 name, for example "RegOpenKeyExW"; a literal, it is not copied.
    explicit PlatformCall(const char* name);
    // True when an armed failure applies to this call; *error then holds the code to report.
    bool Fails(DWORD* error) const {
        *error = error_;
        return fails_;
    }
    // For functions that report through the thread's last error: true when an armed failure applies,
    // with the last error set to its code.
    bool FailsWithLastError() const {
        if (fails_) {
            SetLastError(error_);
        }
        return fails_;
    }

  private:
    PlatformDepth depth_;
    std::lock_guard<std::recursive_mutex> guard_;
    bool fails_ = false;
    DWORD error_ = 0;
};

class ControlCall {
  public:
    ControlCall();

  private:
    PlatformDepth depth_;
    std::lock_guard<std::recursive_mutex> guard_;
};

// Forgets armed failures and call counts (part of winsim::Reset). Caller holds the world lock.
void ResetFailures();

} // namespace winsim_detail
