// Random sequences of public calls from two threads at once, on sessions and
// host message windows they share: issued and made-up handles and windows,
// null and real out pointers, odd values. The input's two halves are the two
// threads' programs; each call is one opcode byte and the bytes it reads.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "VimbraSdk_740QX_RDL.h"
#include "platform/clock.h"

namespace {

constexpr int kSlots = 8;

struct Shared {
    std::atomic<int32_t> handles[kSlots] = {};
    std::atomic<HWND> windows[kSlots] = {};
    // Everything issued, released at the end whatever the slots hold then.
    std::mutex mutex;
    std::vector<int32_t> issued_handles;
    std::vector<HWND> issued_windows;
};

std::atomic<int> g_callbacks{0};

void CountingCallback(void*, HWND, uint32_t, uintptr_t, intptr_t) {
    g_callbacks.fetch_add(1, std::memory_order_relaxed);
}

// Reads the bytes of one thread's program; past the end every read is 0.
class Program {
  public:
    Program(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    int32_t Int() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
        return static_cast<int32_t>(v);
    }
    int32_t Handle(Shared& s) {
        const uint8_t b = Byte();
        return b < 0xF0 ? s.handles[b % kSlots].load() : Int();
    }
    HWND Window(Shared& s) {
        const uint8_t b = Byte();
        if (b < 0xE0) return s.windows[b % kSlots].load();
        if (b < 0xF0) return nullptr;
        return reinterpret_cast<HWND>(static_cast<uintptr_t>(static_cast<uint32_t>(Int())));
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

void Run(Program p, Shared& s) {
    while (!p.done()) {
        const uint8_t op = p.Byte();
        int32_t out = 0;
        VimbraHostMessage msg{};
        switch (op % 20) {
            case 0: {
                const HWND notify = p.Window(s);
                const int32_t handle = Vimbra_Initialize(notify);
                s.handles[p.Byte() % kSlots] = handle;
                std::lock_guard<std::mutex> lock(s.mutex);
                s.issued_handles.push_back(handle);
                break;
            }
            case 1:
                Vimbra_Release(p.Handle(s));
                break;
            case 2:
                Vimbra_GetLastError(p.Handle(s));
                break;
            case 3:
                Vimbra_GetColorMode(p.Handle(s));
                break;
            case 4:
                Vimbra_GetSubSample(p.Handle(s));
                break;
            case 5: {
                const int32_t h = p.Handle(s);
                Vimbra_SetWaitTime(h, p.Int() % 20);  // a preview would sleep this long
                break;
            }
            case 6:
                Vimbra_GetWaitTime(p.Handle(s));
                break;
            case 7: {
                const int32_t h = p.Handle(s);
                Vimbra_SetHalfClock(h, p.Int());
                break;
            }
            case 8:
                Vimbra_Width(p.Handle(s));
                break;
            case 9:
                Vimbra_Height(p.Handle(s));
                break;
            case 10: {
                const int32_t h = p.Handle(s);
                Vimbra_SetSamplingRate(h, p.Int(), p.Int());
                break;
            }
            case 11: {
                const int32_t h = p.Handle(s);
                Vimbra_GetSamplingRate(h, p.Byte() & 1 ? &out : nullptr);
                break;
            }
            case 12: {
                const int32_t h = p.Handle(s);
                Vimbra_GetVideoFormat(h, p.Byte() & 1 ? &out : nullptr);
                break;
            }
            case 13: {
                const HWND window = VimbraHost_CreateWindow();
                s.windows[p.Byte() % kSlots] = window;
                std::lock_guard<std::mutex> lock(s.mutex);
                s.issued_windows.push_back(window);
                break;
            }
            case 14:
                VimbraHost_DestroyWindow(p.Window(s));
                break;
            case 15: {
                const HWND w = p.Window(s);
                const uint8_t b = p.Byte();
                VimbraHost_GetMessage(w, b & 1 ? &msg : nullptr, b % 3);
                break;
            }
            case 16: {
                const HWND w = p.Window(s);
                VimbraHost_PeekMessage(w, p.Byte() & 1 ? &msg : nullptr);
                break;
            }
            case 17: {
                const HWND w = p.Window(s);
                VimbraHost_SetCallback(w, p.Byte() & 1 ? CountingCallback : nullptr, &s);
                break;
            }
            case 18: {
                const HWND w = p.Window(s);
                const int32_t m = p.Int();
                VimbraHost_PostMessage(w, static_cast<uint32_t>(m), p.Byte(), p.Int());
                break;
            }
            default:
                Vimbra_GetDllVersion();
                break;
        }
    }
}

// The virtual camera, a private settings file and no protocol waits.
void SetUpOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        ::setenv("VIMBRA_DRIVER", "sim", 1);
        ::setenv("VIMBRA_SIM_TIMING", "0", 1);
        static const std::string dir =
            (std::filesystem::temp_directory_path() / ("vimbra-fuzz-" + std::to_string(::getpid())))
                .string();
        ::setenv("VIMBRA_REGISTRY_FILE", (dir + "/registry.reg").c_str(), 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        });
        vimbra::platform::SetSleepHook([](uint32_t) {});
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SetUpOnce();
    Shared shared;
    const size_t half = size / 2;
    std::thread other(Run, Program(data + half, size - half), std::ref(shared));
    Run(Program(data, half), shared);
    other.join();
    for (int32_t h : shared.issued_handles) Vimbra_Release(h);
    for (HWND w : shared.issued_windows) VimbraHost_DestroyWindow(w);
    return 0;
}
