// Random sequences of public calls from two threads at once, on sessions and
// host message windows they share: issued and made-up handles and windows,
// null and real out pointers, host buffers of odd sizes, wide strings that do
// not convert, out-of-range values. The input's two halves are the two
// threads' programs; each call is one opcode byte and the bytes it reads.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "VimbraSdk_740QX_RDL.h"
#include "platform/clock.h"

namespace {

constexpr int kSlots = 8;
constexpr size_t kMaxSessions = 3;
// Host buffers a run may hold at once, in bytes; beyond it calls get null.
constexpr size_t kBufferBudget = size_t{64} << 20;
// Sizes a host buffer may have: none, tiny, odd, and whole frames.
constexpr int32_t kBufferSizes[] = {
    0, 1, 17, 4096, 65535, 2592 * 1944, 2592 * 1944 * 3, 2592 * 1944 * 3 + 1};

struct Shared {
    std::atomic<int32_t> handles[kSlots] = {};
    std::atomic<HWND> windows[kSlots] = {};
    // Everything issued, released at the end whatever the slots hold then;
    // host buffers stay alive until then, as a running acquisition writes them.
    std::mutex mutex;
    std::vector<int32_t> issued_handles;
    size_t sessions = 0;  // Vimbra_Initialize calls made
    std::vector<HWND> issued_windows;
    std::vector<std::unique_ptr<uint8_t[]>> buffers;
    size_t buffer_bytes = 0;

    uint8_t* Buffer(int32_t size) {
        std::lock_guard<std::mutex> lock(mutex);
        if (size <= 0 || buffer_bytes + size > kBufferBudget) return nullptr;
        buffer_bytes += size;
        buffers.push_back(std::make_unique<uint8_t[]>(size));
        return buffers.back().get();
    }
};

// Getters and setters that take a handle and one value or an optional flag.
using Getter = int32_t (*)(int32_t, int32_t*);
using Setter = int32_t (*)(int32_t, int32_t);
constexpr Getter kGetters[] = {
    Vimbra_GetHalfClock,       Vimbra_GetAutoIris,       Vimbra_GetRealExposureTime,
    Vimbra_GetBrightness,      Vimbra_GetContrast,       Vimbra_GetHue,
    Vimbra_GetSaturation,      Vimbra_GetSharpness,      Vimbra_GetBayerGainRGB,
    Vimbra_GetBayerGainRed,    Vimbra_GetBayerGainGreen, Vimbra_GetBayerGainBlue,
    Vimbra_GetBayerGainAuto,   Vimbra_GetGamma,          Vimbra_GetBayerMode,
    Vimbra_GetGlobalGain,      Vimbra_GetColorGainRed,   Vimbra_GetColorGainGreen1,
    Vimbra_GetColorGainGreen2, Vimbra_GetColorGainBlue,  Vimbra_GetExposureTime,
    Vimbra_GetGrayMode,        Vimbra_GetGrayGainR,      Vimbra_GetGrayGainG1,
    Vimbra_GetGrayGainG2,      Vimbra_GetGrayGainB,      Vimbra_GetGrayOffsetR,
    Vimbra_GetGrayOffsetG1,    Vimbra_GetGrayOffsetG2,   Vimbra_GetGrayOffsetB,
    Vimbra_GetSamplingRate,    Vimbra_GetVideoFormat,
};
constexpr Setter kSetters[] = {
    Vimbra_SetWaitTime,        Vimbra_SetHalfClock,
    Vimbra_SetColorMode,       Vimbra_SetSubSample,
    Vimbra_SetMirrorH,         Vimbra_SetMirrorV,
    Vimbra_SetAutoIris,        Vimbra_SetRealExposureTime,
    Vimbra_SetIOPort,          Vimbra_SetBrightness,
    Vimbra_SetContrast,        Vimbra_SetHue,
    Vimbra_SetSaturation,      Vimbra_SetSharpness,
    Vimbra_SetBayerGainRGB,    Vimbra_SetBayerGainRed,
    Vimbra_SetBayerGainGreen,  Vimbra_SetBayerGainBlue,
    Vimbra_SetBayerGainAuto,   Vimbra_SetGamma,
    Vimbra_SetBayerMode,       Vimbra_SetGlobalGain,
    Vimbra_SetColorGainRed,    Vimbra_SetColorGainGreen1,
    Vimbra_SetColorGainGreen2, Vimbra_SetColorGainBlue,
    Vimbra_SetExposureTime,    Vimbra_SetGrayMode,
    Vimbra_SetGrayGainR,       Vimbra_SetGrayGainG1,
    Vimbra_SetGrayGainG2,      Vimbra_SetGrayGainB,
    Vimbra_SetGrayOffsetR,     Vimbra_SetGrayOffsetG1,
    Vimbra_SetGrayOffsetG2,    Vimbra_SetGrayOffsetB,
    Vimbra_SetDeviceNumber,
};

std::atomic<int> g_callbacks{0};

void CountingCallback(void*, HWND, uint32_t, uintptr_t, intptr_t) {
    g_callbacks.fetch_add(1, std::memory_order_relaxed);
}

// Where recordings and made-up file names go, removed at exit.
const std::string& ScratchDir() {
    static const std::string dir =
        (std::filesystem::temp_directory_path() / ("vimbra-fuzz-" + std::to_string(::getpid())))
            .string();
    return dir;
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
    // Small values most of the time, any value now and then.
    int32_t Value() {
        const uint8_t b = Byte();
        return b < 0xC0 ? static_cast<int32_t>(b) - 64 : Int();
    }
    // A value times `scale`, wrapping as the host's own arithmetic might.
    int32_t Scaled(uint32_t scale) {
        return static_cast<int32_t>(static_cast<uint32_t>(Value()) * scale);
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
    // A host buffer and its size as the host states it (the buffer holds at
    // least that many bytes, or is null).
    std::pair<uint8_t*, int32_t> Buffer(Shared& s) {
        const uint8_t b = Byte();
        const int32_t size = kBufferSizes[b % std::size(kBufferSizes)];
        return {b & 0x80 ? nullptr : s.Buffer(size), size};
    }
    // A UTF-16 file name under the scratch directory, with units that may not
    // convert (lone surrogates) or may make it too long; sometimes null.
    std::u16string WideName() {
        std::u16string name;
        for (char c : ScratchDir() + "/") name.push_back(static_cast<unsigned char>(c));
        const int length = Byte() % 8 == 7 ? 1100 : Byte() % 12;
        for (int i = 0; i < length; ++i) {
            const uint8_t b = Byte();
            name.push_back(b < 0xF0 ? char16_t(u'a' + b % 26) : char16_t(0xD800 + b));
        }
        return name;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

const VimbraWChar* Wide(const std::u16string& s) {
    return reinterpret_cast<const VimbraWChar*>(s.c_str());
}

void Run(Program p, Shared& s) {
    while (!p.done()) {
        const uint8_t op = p.Byte();
        int32_t ok = 0;
        VimbraHostMessage msg{};
        switch (op % 36) {
            case 0: {
                const HWND notify = p.Window(s);
                const int slot = p.Byte() % kSlots;
                {
                    // A session allocates its full-frame images: a few per run
                    // keep the runs quick.
                    std::lock_guard<std::mutex> lock(s.mutex);
                    if (s.sessions >= kMaxSessions) break;
                    ++s.sessions;
                }
                const int32_t handle = Vimbra_Initialize(notify);
                s.handles[slot] = handle;
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
            case 3: {
                const int32_t h = p.Handle(s);
                const uint8_t which = p.Byte();
                switch (which % 6) {
                    case 0:
                        Vimbra_GetColorMode(h);
                        break;
                    case 1:
                        Vimbra_GetSubSample(h);
                        break;
                    case 2:
                        Vimbra_GetWaitTime(h);
                        break;
                    case 3:
                        Vimbra_Width(h);
                        break;
                    case 4:
                        Vimbra_Height(h);
                        break;
                    default:
                        Vimbra_GetMirrorH(h), Vimbra_GetMirrorV(h), Vimbra_GetConfigFilter(h);
                        break;
                }
                break;
            }
            case 4: {
                const int32_t h = p.Handle(s);
                const Getter get = kGetters[p.Byte() % std::size(kGetters)];
                get(h, p.Byte() & 1 ? &ok : nullptr);
                break;
            }
            case 5: {
                const int32_t h = p.Handle(s);
                const Setter set = kSetters[p.Byte() % std::size(kSetters)];
                set(h, p.Value());
                break;
            }
            case 6: {
                const int32_t h = p.Handle(s);
                const int32_t id = p.Value();
                Vimbra_GetFilterValue(h, id, p.Byte() & 1 ? &ok : nullptr);
                break;
            }
            case 7: {
                const int32_t h = p.Handle(s);
                const int32_t id = p.Value();
                Vimbra_SetFilterValue(h, id, p.Value());
                break;
            }
            case 8: {
                const int32_t h = p.Handle(s);
                const int32_t reg = p.Value();
                const uint8_t which = p.Byte();
                if (which & 1)
                    (which & 2 ? Vimbra_ReadRegisterEx : Vimbra_ReadRegister)(
                        h, reg, which & 4 ? &ok : nullptr);
                else
                    (which & 2 ? Vimbra_WriteRegisterEx : Vimbra_WriteRegister)(h, reg, p.Value());
                break;
            }
            case 9: {
                const int32_t h = p.Handle(s);
                const int32_t address = p.Value() + 0x1800;
                if (p.Byte() & 1)
                    Vimbra_ReadSromID(h, address, &ok);
                else
                    Vimbra_WriteSromID(h, address, p.Value());
                break;
            }
            case 10: {
                const int32_t h = p.Handle(s);
                uint8_t port = 0;
                Vimbra_GetIOPort(h, p.Byte() & 1 ? &port : nullptr, 0, 0);
                break;
            }
            case 11: {
                const int32_t h = p.Handle(s);
                const int32_t w = p.Scaled(64), ht = p.Scaled(48);
                Vimbra_SetCaptureWindow(h, w, ht);
                break;
            }
            case 12: {
                const int32_t h = p.Handle(s);
                int32_t v[6] = {p.Scaled(16), p.Scaled(16), p.Scaled(16),
                                p.Scaled(16), p.Scaled(16), p.Scaled(16)};
                if (p.Byte() & 1)
                    Vimbra_SetCaptureWindowEx(h, v[0], v[1], v[2], v[3], v[4], v[5]);
                else
                    Vimbra_GetCaptureWindowEx(h, &v[0], &v[1], nullptr, &v[3], &v[4], &v[5]);
                break;
            }
            case 13: {
                const int32_t h = p.Handle(s);
                std::vector<char> names(p.Byte() & 1 ? 32 * 256 : 0);
                Vimbra_EnumDevice(h, names.empty() ? nullptr : names.data());
                break;
            }
            case 14: {
                const int32_t h = p.Handle(s);
                std::vector<VimbraWChar> names(p.Byte() & 1 ? 32 * 256 : 0);
                Vimbra_EnumDeviceW(h, names.empty() ? nullptr : names.data());
                break;
            }
            case 15: {
                const int32_t h = p.Handle(s);
                const int32_t slot = p.Value();
                const int32_t size = p.Byte() % 48;
                std::vector<char> name(size);
                Vimbra_GetDeviceName(h, slot, size ? name.data() : nullptr, size);
                break;
            }
            case 16: {
                const int32_t h = p.Handle(s);
                const int32_t slot = p.Value();
                const int32_t size = p.Byte() % 80;  // bytes
                std::vector<VimbraWChar> name((size + 1) / 2);
                Vimbra_GetDeviceNameW(h, slot, size ? name.data() : nullptr, size);
                break;
            }
            case 17: {
                const int32_t h = p.Handle(s);
                VimbraCameraInfo info{};
                info.size = p.Value() + 36;
                Vimbra_GetCameraInfo(h, p.Byte() & 1 ? &info : nullptr);
                break;
            }
            case 18: {
                const int32_t h = p.Handle(s);
                const std::u16string name = p.WideName();
                if (p.Byte() & 1)
                    Vimbra_LoadConfigFileW(h, Wide(name));
                else
                    Vimbra_LoadConfigFileA(h, nullptr);
                break;
            }
            case 19: {
                const int32_t h = p.Handle(s);
                const uint8_t which = p.Byte();
                switch (which % 5) {
                    case 0:
                        Vimbra_Preview(h);
                        break;
                    case 1:
                        Vimbra_StartPreview(h);
                        break;
                    case 2:
                        Vimbra_StopPreview(h);
                        break;
                    case 3:
                        Vimbra_Capture(h);
                        break;
                    default:
                        Vimbra_Close(h);
                        break;
                }
                break;
            }
            case 20: {
                const int32_t h = p.Handle(s);
                const HWND w = p.Window(s);
                const auto [buffer, size] = p.Buffer(s);
                const int32_t order = p.Byte() & 1;
                if (p.Byte() & 1)
                    Vimbra_CallBackPreview(h, w, buffer, size, order);
                else
                    Vimbra_Trigger(h, w, buffer, size, order);
                break;
            }
            case 21: {
                const int32_t h = p.Handle(s);
                const auto [buffer, size] = p.Buffer(s);
                const int32_t order = p.Byte() & 1;
                if (p.Byte() & 1)
                    Vimbra_SnapShot(h, buffer, size, order);
                else
                    Vimbra_GetImage(h, buffer, size, order);
                break;
            }
            case 22: {
                const int32_t h = p.Handle(s);
                const HWND parent = p.Window(s);
                Vimbra_SetPreviewWindow(h, parent, p.Value(), p.Value(), p.Scaled(8), p.Scaled(8));
                break;
            }
            case 23: {
                const int32_t h = p.Handle(s);
                const std::u16string name = p.WideName();
                const int32_t ms = p.Byte() % 40;
                Vimbra_RecordW(h, Wide(name), ms, p.Byte() & 1);
                break;
            }
            case 24: {
                const int32_t h = p.Handle(s);
                Vimbra_SetSamplingRate(h, p.Int(), p.Int());
                Vimbra_GetStatus(h, p.Int());
                break;
            }
            case 25: {
                const HWND window = VimbraHost_CreateWindow();
                s.windows[p.Byte() % kSlots] = window;
                std::lock_guard<std::mutex> lock(s.mutex);
                s.issued_windows.push_back(window);
                break;
            }
            case 26:
                VimbraHost_DestroyWindow(p.Window(s));
                break;
            case 27: {
                const HWND w = p.Window(s);
                const uint8_t b = p.Byte();
                VimbraHost_GetMessage(w, b & 1 ? &msg : nullptr, b % 3);
                break;
            }
            case 28: {
                const HWND w = p.Window(s);
                VimbraHost_PeekMessage(w, p.Byte() & 1 ? &msg : nullptr);
                break;
            }
            case 29: {
                const HWND w = p.Window(s);
                VimbraHost_SetCallback(w, p.Byte() & 1 ? CountingCallback : nullptr, &s);
                break;
            }
            case 30: {
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

// The virtual camera (a colour and a monochrome one, frames at once, triggers
// every few milliseconds), off-screen windows, a private settings file, no
// protocol waits.
void SetUpOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        ::setenv("VIMBRA_DRIVER", "sim", 1);
        ::setenv("VIMBRA_SIM_CAMERAS", "0:color,3:740QX-BW", 1);
        ::setenv("VIMBRA_SIM_TIMING", "0", 1);
        ::setenv("VIMBRA_SIM_TRIGGER_MS", "2", 1);
        ::setenv("VIMBRA_WINDOWS", "offscreen", 1);
        std::filesystem::create_directories(ScratchDir());
        ::setenv("VIMBRA_REGISTRY_FILE", (ScratchDir() + "/registry.reg").c_str(), 1);
        vimbra::platform::SetSleepHook([](uint32_t) {});
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(ScratchDir(), ec);
        });
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
