// A small pool of persistent worker threads that splits a range of rows of
// one pixel routine over the cores. The rows are handed out in blocks from a
// shared counter: the caller starts on them at once and the workers join as
// they wake, so a worker that is slow to get a core delays nothing. One job
// runs on the pool at a time (a job arriving meanwhile runs whole on its
// caller's thread). Nothing is allocated per job once the workers exist.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace vimbra {

class RowPool {
  public:
    static RowPool& Instance();
    ~RowPool();
    RowPool(const RowPool&) = delete;
    RowPool& operator=(const RowPool&) = delete;

    // Number of cores of the machine (at least 1).
    int Cores() const { return cores_; }

    // Calls f(begin, end) over [0, rows) in blocks of consecutive rows on up
    // to `threads` threads, the caller's included, and returns when all rows
    // are done; runs on the calling thread alone for one thread or a small
    // range.
    template <typename F>
    void Run(int threads, int rows, F&& f) {
        if (threads <= 1 || rows < 2 * kMinRowsPerPart) {
            if (rows > 0) f(0, rows);
            return;
        }
        RunParts(threads, rows, &Trampoline<std::remove_reference_t<F>>,
                 const_cast<void*>(static_cast<const void*>(&f)));
    }

    static constexpr int kMinRowsPerPart = 16;
    static constexpr int kMaxThreads = 64;

  private:
    using PartFn = void (*)(void* context, int begin, int end);
    template <typename F>
    static void Trampoline(void* context, int begin, int end) {
        (*static_cast<F*>(context))(begin, end);
    }

    RowPool();
    void RunParts(int threads, int rows, PartFn fn, void* context);
    void WorkerLoop(int index);
    // Takes blocks of rows from the counter until none is left.
    void Work(PartFn fn, void* context);

    int cores_ = 1;
    std::mutex run_mutex_;  // one job at a time
    std::mutex mutex_;
    std::condition_variable start_;
    std::condition_variable done_;
    std::vector<std::thread> workers_;
    bool stopping_ = false;
    unsigned long generation_ = 0;
    bool open_ = false;  // workers waking now may still join the job
    int helpers_ = 0;    // workers allowed to join (threads - 1)
    int in_flight_ = 0;  // workers inside the job
    int rows_ = 0;
    int block_ = 1;
    std::atomic<int> next_row_{0};
    PartFn fn_ = nullptr;
    void* context_ = nullptr;
};

}  // namespace vimbra
