#include "platform/messages.h"

#include "platform/clock.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace vimbra::platform {
namespace {

// One message queue: a window's or a thread's.
struct Queue {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Message> messages;
    bool destroyed = false;
    MessageCallback callback = nullptr;
    void* user = nullptr;
    std::thread dispatcher;  // runs while a callback is registered
    std::thread::id dispatcher_id;
    uint64_t callback_generation = 0;

    bool Push(const Message& m) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (destroyed || messages.size() >= static_cast<size_t>(kMaxQueuedMessages))
                return false;
            messages.push_back(m);
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
        *out = messages.front();
        messages.pop_front();
        return GetResult::kMessage;
    }

    // Body of the dispatcher thread: hands queued messages to the callback of
    // the generation it was started for, without holding the queue's lock.
    void Dispatch(uint64_t generation) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            cv.wait(lock, [&] {
                return destroyed || callback_generation != generation || !messages.empty();
            });
            if (destroyed || callback_generation != generation) return;
            const Message m = messages.front();
            messages.pop_front();
            const MessageCallback cb = callback;
            void* const u = user;
            lock.unlock();
            cb(u, m.window, m.message, m.wparam, m.lparam);
            lock.lock();
        }
    }

    // Stops a running dispatcher; called with no lock held.
    void StopDispatcher() {
        std::thread t;
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++callback_generation;
            callback = nullptr;
            t = std::move(dispatcher);
        }
        cv.notify_all();
        if (t.joinable()) {
            if (t.get_id() == std::this_thread::get_id())
                t.detach();  // a callback unregistering itself
            else
                t.join();
        }
    }
};

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
    q->StopDispatcher();
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        q->destroyed = true;
        q->messages.clear();
    }
    q->cv.notify_all();
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
    if (!q) return false;
    q->StopDispatcher();
    if (callback == nullptr) return true;
    std::lock_guard<std::mutex> lock(q->mutex);
    if (q->destroyed) return false;
    q->callback = callback;
    q->user = user;
    const uint64_t generation = q->callback_generation;
    // The thread holds the queue alive until it has returned.
    q->dispatcher = std::thread([q, generation] { q->Dispatch(generation); });
    return true;
}

}  // namespace vimbra::platform
