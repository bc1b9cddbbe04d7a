#include "platform/messages.h"

#include "platform/clock.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

namespace vimbra::platform {
namespace {

// Messages in posting order, in storage that grows to the most ever queued
// and is then reused: a steady stream of frame notifications allocates
// nothing.
class MessageRing {
  public:
    bool empty() const { return count_ == 0; }
    size_t size() const { return count_; }
    // False when the storage cannot grow.
    bool push_back(const Message& m) {
        if (count_ == slots_.size() && !Grow()) return false;
        slots_[(head_ + count_) % slots_.size()] = m;
        ++count_;
        return true;
    }
    Message pop_front() {
        const Message m = slots_[head_];
        head_ = (head_ + 1) % slots_.size();
        --count_;
        return m;
    }
    void clear() { head_ = count_ = 0; }

  private:
    bool Grow() {
        std::vector<Message> bigger;
        try {
            bigger.resize(slots_.empty() ? 64 : slots_.size() * 2);
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (size_t i = 0; i < count_; ++i) bigger[i] = slots_[(head_ + i) % slots_.size()];
        slots_.swap(bigger);
        head_ = 0;
        return true;
    }

    std::vector<Message> slots_;
    size_t head_ = 0;
    size_t count_ = 0;
};

// One message queue: a window's or a thread's.
struct Queue {
    std::mutex mutex;
    std::condition_variable cv;
    MessageRing messages;
    bool destroyed = false;
    MessageCallback callback = nullptr;
    void* user = nullptr;
    std::thread dispatcher;  // runs while a callback is registered
    uint64_t callback_generation = 0;
    bool dispatching = false;  // a dispatcher is handing out messages

    bool Push(const Message& m) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (destroyed || messages.size() >= static_cast<size_t>(kMaxQueuedMessages) ||
                !messages.push_back(m)) {
                return false;
            }
        }
        cv.notify_all();
        return true;
    }

    GetResult Pop(Message* out, uint32_t timeout_ms) {
        std::unique_lock<std::mutex> lock(mutex);
        auto ready = [this] { return destroyed || !messages.empty(); };
        if (timeout_ms == kInfinite) {
            cv.wait(lock, ready);
        } else if (timeout_ms > 0) {
            cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
        }
        if (destroyed) return GetResult::kNoWindow;
        if (messages.empty()) return GetResult::kEmpty;
        *out = messages.pop_front();
        return GetResult::kMessage;
    }

    // Body of the dispatcher thread: hands queued messages to the callback of
    // the generation it was started for, without holding the queue's lock.
    void Dispatch(uint64_t generation) {
        std::unique_lock<std::mutex> lock(mutex);
        // The dispatcher it replaces may still be inside a callback; waiting
        // for it to leave keeps the messages in posting order.
        cv.wait(lock,
                [&] { return destroyed || callback_generation != generation || !dispatching; });
        if (destroyed || callback_generation != generation) return;
        dispatching = true;
        for (;;) {
            cv.wait(lock, [&] {
                return destroyed || callback_generation != generation || !messages.empty();
            });
            if (destroyed || callback_generation != generation) break;
            const Message m = messages.pop_front();
            const MessageCallback cb = callback;
            void* const u = user;
            lock.unlock();
            cb(u, m.window, m.message, m.wparam, m.lparam);
            lock.lock();
        }
        dispatching = false;
        cv.notify_all();
    }
};

// Installs `callback` (nullptr: none) on a window's queue, or with `destroy`
// marks the queue destroyed. The running dispatcher is swapped out under the
// queue's lock, so that concurrent calls never assign over a running thread
// and none starts one once the queue is destroyed, then joined without it
// (detached when a callback changes its own window). False when the queue is
// already destroyed or no thread can be started.
bool ReplaceDispatcher(const std::shared_ptr<Queue>& q, MessageCallback callback, void* user,
                       bool destroy) {
    std::thread old;
    bool ok = true;
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        if (q->destroyed) return false;
        ++q->callback_generation;
        q->callback = callback;
        q->user = user;
        old = std::move(q->dispatcher);
        if (destroy) {
            q->destroyed = true;
            q->messages.clear();
        } else if (callback) {
            const uint64_t generation = q->callback_generation;
            try {
                // The thread holds the queue alive until it has returned.
                q->dispatcher = std::thread([q, generation] { q->Dispatch(generation); });
            } catch (const std::system_error&) {
                q->callback = nullptr;
                ok = false;
            }
        }
    }
    q->cv.notify_all();
    if (old.joinable()) {
        if (old.get_id() == std::this_thread::get_id())
            old.detach();
        else
            old.join();
    }
    return ok;
}

struct Registry {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Queue>> windows;
    uintptr_t next = 1;
};

Registry& Windows() {
    static Registry* registry = new Registry;  // lives until process exit
    return *registry;
}

std::shared_ptr<Queue> FindWindow(HWND window) {
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.windows.find(reinterpret_cast<uintptr_t>(window));
    return it == r.windows.end() ? nullptr : it->second;
}

Queue& ThreadQueue() {
    thread_local Queue queue;
    return queue;
}

// Window handles are even numbers well away from 0 so that they are never
// mistaken for small integers a caller may pass by accident.
constexpr uintptr_t kHandleBase = 0x10000;

}  // namespace

HWND CreateMessageWindow() {
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    const uintptr_t id = kHandleBase + 2 * r.next++;
    r.windows.emplace(id, std::make_shared<Queue>());
    return reinterpret_cast<HWND>(id);
}

bool DestroyMessageWindow(HWND window) {
    std::shared_ptr<Queue> q;
    {
        Registry& r = Windows();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.windows.find(reinterpret_cast<uintptr_t>(window));
        if (it == r.windows.end()) return false;
        q = std::move(it->second);
        r.windows.erase(it);
    }
    ReplaceDispatcher(q, nullptr, nullptr, true);
    return true;
}

bool IsMessageWindow(HWND window) {
    return FindWindow(window) != nullptr;
}

bool PostMessage(HWND window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    const Message m{window, message, wparam, lparam};
    if (window == nullptr) return ThreadQueue().Push(m);
    std::shared_ptr<Queue> q = FindWindow(window);
    return q && q->Push(m);
}

GetResult GetMessage(HWND window, Message* out, uint32_t timeout_ms) {
    if (out == nullptr) return GetResult::kNoWindow;
    if (window == nullptr) return ThreadQueue().Pop(out, timeout_ms);
    std::shared_ptr<Queue> q = FindWindow(window);
    if (!q) return GetResult::kNoWindow;
    return q->Pop(out, timeout_ms);
}

bool SetMessageCallback(HWND window, MessageCallback callback, void* user) {
    std::shared_ptr<Queue> q = FindWindow(window);
    return q && ReplaceDispatcher(q, callback, user, false);
}

}  // namespace vimbra::platform
