// A private virtual X server for tests that need a display: Xvfb on a display
// number it picks itself, stopped with the object. Tests skip when Xvfb is
// not installed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace vimbra::testing {

class XvfbServer {
  public:
    // `extra` arguments go to Xvfb as they are, e.g. {"-extension", "MIT-SHM"};
    // `screen` is the size and depth of its screen.
    explicit XvfbServer(std::vector<std::string> extra = {},
                        const std::string& screen = "1280x1024x24") {
        int fds[2];
        if (pipe(fds) != 0) return;
        constexpr int kDisplayFd = 9;  // Xvfb writes its display number here
        std::vector<std::string> args = {"Xvfb",      "-displayfd", std::to_string(kDisplayFd),
                                         "-screen",   "0",          screen,
                                         "-nolisten", "tcp",        "-noreset"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            // The server ends with the test program, even when that crashes.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(1);
            dup2(fds[1], kDisplayFd);
            const int null = open("/dev/null", O_RDWR);
            for (int fd : {0, 1, 2}) dup2(null, fd);
            // Nothing of the test's other descriptors (e.g. its output pipe)
            // stays open in the server.
            for (int fd = 3; fd < kDisplayFd; ++fd) close(fd);
            close_range(kDisplayFd + 1, ~0u, 0);
            execvp("Xvfb", argv.data());
            _exit(127);
        }
        const bool spawned = pid_ > 0;
        close(fds[1]);
        if (spawned) ReadDisplay(fds[0]);
        close(fds[0]);
        if (name_.empty()) Stop();
    }
    ~XvfbServer() { Stop(); }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool ok() const { return !name_.empty(); }
    // The display name, e.g. ":3".
    const char* name() const { return name_.c_str(); }
    // Ends the server at once, as a crash or a dropped connection would:
    // its clients find their connections gone.
    void Kill() { Stop(SIGKILL); }

  private:
    void ReadDisplay(int fd) {
        // Xvfb writes the number once it accepts connections.
        constexpr int kStartTimeoutMs = 20000;
        std::string digits;
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, kStartTimeoutMs) <= 0) return;
            char c;
            if (read(fd, &c, 1) != 1) return;
            if (c == '\n') break;
            digits += c;
        }
        if (!digits.empty()) name_ = ":" + digits;
    }

    void Stop(int signal = SIGTERM) {
        if (pid_ <= 0) return;
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

    pid_t pid_ = -1;
    std::string name_;
};

}  // namespace vimbra::testing
