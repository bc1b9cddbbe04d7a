#include "session/vimbra.h"

#include "platform/clock.h"
#include "platform/messages.h"

namespace vimbra {

CVimbra::CVimbra() : rate_window_start_ms_(platform::TimeGetTime()) {}

CVimbra::~CVimbra() = default;

int32_t CVimbra::Initialize(HWND notify) {
    notify_window_ = notify;
    // The camera layers are not part of this build yet, so there is nothing
    // to initialise against: report the failure the way a failed start does.
    RecordError(VIMBRA_ERR_MEMORY);
    return 0;
}

void CVimbra::RecordError(int32_t code) {
    errors_.Push(code);
    if (notify_window_ != nullptr) platform::PostMessage(notify_window_, VIMBRA_MSG_ERROR, 0, code);
}

void CVimbra::NotifyError(int32_t code) {
    platform::PostMessage(notify_window_, VIMBRA_MSG_ERROR, 0, code);
}

int32_t CVimbra::GetColorMode() const {
    static constexpr int32_t kAnswers[6] = {8, 12, 24, 32, 44, 60};
    const int32_t index = ColorModeIndex();
    if (index < 0 || index > 5) return -1;
    return kAnswers[index];
}

int32_t CVimbra::SetWaitTime(int32_t ms) {
    if (ms < 0) return 0;
    Write(format_.wait_time, ms);
    return 1;
}

int32_t CVimbra::SetHalfClock(int32_t mode) {
    Write(format_.clock_mode, mode);
    return 1;
}

}  // namespace vimbra
