#include "image/row_pool.h"

#include <algorithm>
#include <system_error>

namespace vimbra {

RowPool& RowPool::Instance() {
#if defined(_WIN32)
    // Kept to the end of the process: when a DLL is unloaded at exit, Windows
    // has already ended the workers, and joining them would wait forever.
    static RowPool* pool = new RowPool;
    return *pool;
#else
    static RowPool pool;
    return pool;
#endif
}

RowPool::RowPool() {
    unsigned n = std::thread::hardware_concurrency();
    cores_ = n == 0 ? 1 : static_cast<int>(std::min(n, static_cast<unsigned>(kMaxThreads)));
}

RowPool::~RowPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    start_.notify_all();
    for (auto& t : workers_) t.join();
}

void RowPool::RunParts(int threads, int rows, PartFn fn, void* context) {
    // A second job at the same time (another session's frame, or a routine
    // called from inside a block) runs on its own thread rather than waiting.
    std::unique_lock<std::mutex> run_lock(run_mutex_, std::try_to_lock);
    if (!run_lock.owns_lock()) {
        fn(context, 0, rows);
        return;
    }
    threads = std::min({threads, kMaxThreads, rows / kMinRowsPerPart});
    // Workers are started on first need and kept for later jobs.
    while (static_cast<int>(workers_.size()) < threads - 1) {
        try {
            int index = static_cast<int>(workers_.size());
            workers_.emplace_back([this, index] { WorkerLoop(index); });
        } catch (const std::system_error&) {
            break;
        }
    }
    threads = std::min(threads, static_cast<int>(workers_.size()) + 1);
    if (threads <= 1) {
        fn(context, 0, rows);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fn_ = fn;
        context_ = context;
        rows_ = rows;
        // About four blocks per thread balance the load without much
        // hand-over.
        block_ = std::max(kMinRowsPerPart / 2, rows / (threads * 4));
        next_row_.store(0, std::memory_order_relaxed);
        helpers_ = threads - 1;
        in_flight_ = 0;
        open_ = true;
        ++generation_;
    }
    start_.notify_all();
    Work(fn, context);
    std::unique_lock<std::mutex> lock(mutex_);
    open_ = false;
    done_.wait(lock, [this] { return in_flight_ == 0; });
}

void RowPool::Work(PartFn fn, void* context) {
    for (;;) {
        int begin = next_row_.fetch_add(block_, std::memory_order_relaxed);
        if (begin >= rows_) return;
        fn(context, begin, std::min(begin + block_, rows_));
    }
}

void RowPool::WorkerLoop(int index) {
    unsigned long seen = 0;
    for (;;) {
        PartFn fn;
        void* context;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            start_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            if (!open_ || index >= helpers_) continue;
            ++in_flight_;
            fn = fn_;
            context = context_;
        }
        Work(fn, context);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (--in_flight_ == 0) done_.notify_one();
        }
    }
}

}  // namespace vimbra
