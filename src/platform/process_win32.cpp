// Process identity on Windows: the process id with the process's creation
// time, so that a recycled id is not taken for the process that held it.
#include <windows.h>

#include "platform/process.h"

namespace vimbra::platform {
namespace {

// The creation time of an open process in 100 ns units; 0 when unknown.
uint64_t CreationTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

ProcessIdentity CurrentProcess() {
    ProcessIdentity self;
    self.pid = ::GetCurrentProcessId();
    self.start_time = CreationTime(::GetCurrentProcess());
    return self;
}

bool ProcessIsAlive(const ProcessIdentity& process) {
    if (process.pid <= 0 || process.pid > UINT32_MAX) return false;
    HANDLE h =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process.pid));
    if (h == nullptr) {
        // A process of another user that we may not query still runs.
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    }
    DWORD code = 0;
    bool alive = ::GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
    if (alive && process.start_time != 0) alive = CreationTime(h) == process.start_time;
    ::CloseHandle(h);
    return alive;
}

uint64_t MainModuleHandle() {
    return reinterpret_cast<uintptr_t>(::GetModuleHandleA(nullptr));
}

}  // namespace vimbra::platform
