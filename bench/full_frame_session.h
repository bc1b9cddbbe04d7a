// A session of the public interface on a virtual colour camera that sends
// full 2592 x 1944 frames as fast as they are asked for: colour mode 24, no
// wait, no preview window, with a private registry, camera table and scratch
// directory for the run. Messages of the callback window go to a function on
// a library thread. Destruction stops and releases everything.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "VimbraSdk_740QX_RDL.h"
#include "platform/clock.h"
#include "platform/shared_memory.h"
#include "session/camera_table.h"
#include "sim/virtual_driver.h"

namespace vimbra::bench {

class FullFrameSession {
  public:
    static constexpr int32_t kWidth = 2592, kHeight = 1944;

    FullFrameSession(VimbraHostCallback on_message, void* user) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vimbra-bench-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        ::setenv("VIMBRA_REGISTRY_FILE", (dir_ + "/registry.reg").c_str(), 1);
        ::setenv("VIMBRA_WINDOWS", "offscreen", 1);
        table_ = "vimbra-bench-" + std::to_string(::getpid());
        CameraTable::SetObjectNameForTesting(table_);
        platform::SetSleepHook([](uint32_t) {});
        sim::DefaultVirtualDriver().UnplugAll();
        sim::DefaultVirtualDriver().SetTiming(false);
        sim::DefaultVirtualDriver().Plug(0, sim::CameraModel::kColor);
        notify_ = VimbraHost_CreateWindow();
        callback_ = VimbraHost_CreateWindow();
        VimbraHost_SetCallback(callback_, on_message, user);
        handle_ = Vimbra_Initialize(notify_);
        Vimbra_SetColorMode(handle_, 24);
        Vimbra_SetWaitTime(handle_, 0);
        Vimbra_SetSubSample(handle_, 0);
        Vimbra_SetCaptureWindowEx(handle_, kWidth, 0, kWidth, kHeight, 0, kHeight);
        Vimbra_SetPreviewWindow(handle_, nullptr, 0, 0, 0, 0);
    }
    ~FullFrameSession() {
        Vimbra_StopPreview(handle_);
        Vimbra_Release(handle_);
        VimbraHost_DestroyWindow(callback_);
        VimbraHost_DestroyWindow(notify_);
        sim::DefaultVirtualDriver().UnplugAll();
        platform::SetSleepHook(nullptr);
        platform::SharedMemory::Remove(table_.c_str());
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    FullFrameSession(const FullFrameSession&) = delete;
    FullFrameSession& operator=(const FullFrameSession&) = delete;

    int32_t handle() const { return handle_; }
    HWND callback_window() const { return callback_; }
    // A path in the run's scratch directory.
    std::string File(const char* name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
    std::string table_;
    HWND notify_ = nullptr;
    HWND callback_ = nullptr;
    int32_t handle_ = 0;
};

}  // namespace vimbra::bench
