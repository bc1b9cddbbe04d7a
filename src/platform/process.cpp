#include "platform/process.h"

#include <signal.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vimbra::platform {
namespace {

struct ProcStat {
    char state = '?';
    uint64_t start_time = 0;
};

// Reads the state and start time (field 22) of /proc/<pid>/stat; false when
// the process has no entry there.
bool ReadProcStat(int64_t pid, ProcStat* out) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%lld/stat", static_cast<long long>(pid));
    std::FILE* f = std::fopen(path, "re");
    if (f == nullptr) return false;
    char buf[1024];
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = '\0';
    // The command name in parentheses may hold spaces: fields follow the last ')'.
    const char* p = std::strrchr(buf, ')');
    if (p == nullptr || p[1] != ' ') return false;
    p += 2;
    out->state = *p;
    // Field 3 is the state; the start time is field 22.
    for (int field = 3; field < 22 && *p != '\0'; ++p)
        if (*p == ' ') ++field;
    out->start_time = std::strtoull(p, nullptr, 10);
    return true;
}

}  // namespace

ProcessIdentity CurrentProcess() {
    ProcessIdentity self;
    self.pid = ::getpid();
    ProcStat stat;
    if (ReadProcStat(self.pid, &stat)) self.start_time = stat.start_time;
    return self;
}

bool ProcessIsAlive(const ProcessIdentity& process) {
    // kill() with 0 or a negative id would address process groups.
    if (process.pid <= 0 || process.pid > INT32_MAX) return false;
    ProcStat stat;
    if (ReadProcStat(process.pid, &stat)) {
        if (stat.state == 'Z' || stat.state == 'X') return false;
        return process.start_time == 0 || stat.start_time == process.start_time;
    }
    return ::kill(static_cast<pid_t>(process.pid), 0) == 0 || errno == EPERM;
}

uint64_t MainModuleHandle() {
    // The program headers sit in the executable's first page.
    const uint64_t phdr = ::getauxval(AT_PHDR);
    const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    return page != 0 ? phdr & ~(page - 1) : phdr;
}

}  // namespace vimbra::platform
