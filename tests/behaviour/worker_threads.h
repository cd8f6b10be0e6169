// Worker threads for the concurrency checks, through the Win32 thread API on both sides (the Windows
// tool chain's run-time may have no std::thread). The workers are held at a start line until all of them
// exist, so that they run at the same time rather than one after the other as they are created.
#pragma once

#include "platform/platform.h"

#include <vector>

namespace workers {

// What every worker runs: its own context, to which it writes its results.
using Work = void (*)(void* context);

namespace detail {

struct StartLine {
    CRITICAL_SECTION section; // held by the starting thread until every worker has been created
    Work work;
};

struct Start {
    StartLine* line;
    void* context;
};

inline DWORD WINAPI Run(LPVOID parameter) {
    Start* start = static_cast<Start*>(parameter);
    EnterCriticalSection(&start->line->section);
    LeaveCriticalSection(&start->line->section);
    start->line->work(start->context);
    return 0;
}

} // namespace detail

// Runs `work` once for every context, each on a thread of its own, and returns when all have ended.
// Answers how many threads could be started; the contexts of the others were not worked on.
template <class Context> int RunOnThreads(Work work, std::vector<Context>& contexts) {
    detail::StartLine line;
    line.work = work;
    InitializeCriticalSection(&line.section);
    std::vector<detail::Start> starts(contexts.size());
    std::vector<HANDLE> threads;
    EnterCriticalSection(&line.section);
    for (size_t i = 0; i < contexts.size(); ++i) {
        starts[i] = detail::Start{&line, &contexts[i]};
        HANDLE thread = CreateThread(nullptr, 0, detail::Run, &starts[i], 0, nullptr);
        if (thread != nullptr) {
            threads.push_back(thread);
        }
    }
    LeaveCriticalSection(&line.section);
    for (HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    DeleteCriticalSection(&line.section);
    return static_cast<int>(threads.size());
}

} // namespace workers
