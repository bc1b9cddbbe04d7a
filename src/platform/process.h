// Identity of processes: who this process is, and whether a process that
// wrote its identity somewhere shared is still running.
#pragma once

#include <cstdint>

namespace vimbra::platform {

// A process id with the process's start time, so that a recycled id is not
// mistaken for the process that held it before.
struct ProcessIdentity {
    int64_t pid = 0;
    uint64_t start_time = 0;  // 0 when the system does not tell it
};

ProcessIdentity CurrentProcess();

// True while the process runs. False for ids that name no single process
// (0 and below), for ended and zombie processes and for a recycled id whose
// start time differs.
bool ProcessIsAlive(const ProcessIdentity& process);

// The handle of the program's main module (GetModuleHandleA(NULL)): the
// address the executable is loaded at.
uint64_t MainModuleHandle();

}  // namespace vimbra::platform
