// Threads of the simulation (kernel32): thread ids, and CreateThread over a detached host thread with its
// handle in the kernel handle table, which WaitForSingleObject and GetExitCodeThread consult and
// CloseHandle closes. See threads.h for what is modelled. The thread's state is shared between the handle
// and the thread itself, so that either may go first: a closed handle leaves the thread running, and a
// thread that has ended leaves its exit code to the handle. Waiting holds no lock of the simulation's
// world, so that the thread waited for can call into it.
#include "winsim/kernel/threads.h"

#include "winsim/core/entry.h"
#include "winsim/core/handle_table.h"
#include "winsim/core/malloc_containers.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>

using namespace winsim_detail;

namespace {

struct ThreadState {
    std::mutex lock;
    std::condition_variable changed;
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID parameter = nullptr;
    bool started = false;
    DWORD id = 0;
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;
};

class ThreadObject : public KernelObject {
  public:
    explicit ThreadObject(std::shared_ptr<ThreadState> state) : state_(std::move(state)) {}

    const std::shared_ptr<ThreadState>& State() const { return state_; }

  private:
    std::shared_ptr<ThreadState> state_;
};

// The new thread's own reference to the shared state travels in malloc'd storage.
void* RunThread(void* raw) {
    auto* carried = static_cast<std::shared_ptr<ThreadState>*>(raw);
    std::shared_ptr<ThreadState> state = std::move(*carried);
    carried->~shared_ptr();
    std::free(carried);
    {
        std::lock_guard<std::mutex> guard(state->lock);
        state->id = GetCurrentThreadId();
        state->started = true;
    }
    state->changed.notify_all();
    const DWORD exitCode = state->start(state->parameter);
    {
        std::lock_guard<std::mutex> guard(state->lock);
        state->exitCode = exitCode;
        state->ended = true;
    }
    state->changed.notify_all();
    return nullptr;
}

// The state behind an open thread handle; null (and the last error set) for any other handle.
std::shared_ptr<ThreadState> ThreadOf(HANDLE handle) {
    auto* thread = dynamic_cast<ThreadObject*>(LookupHandle(handle));
    if (thread == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return thread->State();
}

} // namespace

DWORD WINAPI GetCurrentThreadId() {
    static thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
    {
        PlatformCall call("CreateThread");
        if (call.FailsWithLastError()) {
            return nullptr;
        }
    }
    if (lpStartAddress == nullptr ||
        (dwCreationFlags & ~static_cast<DWORD>(STACK_SIZE_PARAM_IS_A_RESERVATION)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<ThreadState> state = MakeShared<ThreadState>();
    state->start = lpStartAddress;
    state->parameter = lpParameter;
    void* storage = std::malloc(sizeof(std::shared_ptr<ThreadState>));
    if (storage == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* carried = new (storage) std::shared_ptr<ThreadState>(state);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int failure = pthread_create(&thread, &attributes, RunThread, carried);
    pthread_attr_destroy(&attributes);
    if (failure != 0) {
        carried->~shared_ptr();
        std::free(storage);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // The id is known once the thread runs; Windows hands it out with the handle.
    {
        std::unique_lock<std::mutex> guard(state->lock);
        state->changed.wait(guard, [&] { return state->started; });
        if (lpThreadId != nullptr) {
            *lpThreadId = state->id;
        }
    }
    return NewHandle(new ThreadObject(state));
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    {
        PlatformCall call("WaitForSingleObject");
        if (call.FailsWithLastError()) {
            return WAIT_FAILED;
        }
    }
    std::shared_ptr<ThreadState> state = ThreadOf(hHandle);
    if (state == nullptr) {
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> guard(state->lock);
    if (dwMilliseconds == INFINITE) {
        state->changed.wait(guard, [&] { return state->ended; });
        return WAIT_OBJECT_0;
    }
    const bool ended = state->changed.wait_for(guard, std::chrono::milliseconds(dwMilliseconds),
                                               [&] { return state->ended; });
    return ended ? WAIT_OBJECT_0 : static_cast<DWORD>(WAIT_TIMEOUT);
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    {
        PlatformCall call("GetExitCodeThread");
        if (call.FailsWithLastError()) {
            return FALSE;
        }
    }
    std::shared_ptr<ThreadState> state = ThreadOf(hThread);
    if (state == nullptr || lpExitCode == nullptr) {
        if (state != nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
        }
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(state->lock);
    *lpExitCode = state->exitCode;
    return TRUE;
}
