// Threads of the simulation (kernel32). Modelled: CreateThread over a host thread, whose handle
// WaitForSingleObject waits on and GetExitCodeThread asks, and CloseHandle closes; the thread runs on when
// its handle is closed, as on Windows. Not modelled: suspended creation, stack sizes (the host's default
// is used), waits on other kinds of objects, and closing a handle while another thread waits on it.
#pragma once

#include "winsim/kernel/types.h"

// The host's thread id; stable for the thread's life and never 0.
DWORD WINAPI GetCurrentThreadId();

typedef DWORD(WINAPI* PTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
#define STILL_ACTIVE 259L
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000

// Starts lpStartAddress(lpParameter) on a new thread and returns its handle (closed with CloseHandle);
// lpThreadId (optional) receives the id that GetCurrentThreadId answers on that thread. Null with
// ERROR_INVALID_PARAMETER for a null start routine or creation flags other than 0 and
// STACK_SIZE_PARAM_IS_A_RESERVATION (Windows starts a thread that faults, or a suspended one), with
// ERROR_NOT_ENOUGH_MEMORY when the host cannot start a thread. dwStackSize is ignored.
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                           LPDWORD lpThreadId);
// Waits until the thread of the handle has ended (WAIT_OBJECT_0) or dwMilliseconds have passed
// (WAIT_TIMEOUT; INFINITE never times out). WAIT_FAILED with ERROR_INVALID_HANDLE for a handle that is not
// an open thread handle.
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
// The value the thread's start routine returned, or STILL_ACTIVE while it runs. FALSE with
// ERROR_INVALID_HANDLE for a handle that is not an open thread handle.
BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
