// The start of a recording: preview, then the recorder on its frames.
#include "image/dib_image.h"
#include "platform/text.h"
#include "session/vimbra.h"

namespace vimbra {

void CVimbra::SetRecorder(std::unique_ptr<SessionRecorder> recorder) {
    std::lock_guard<std::recursive_mutex> control(control_);
    if (recorder_) recorder_->End();
    recorder_ = std::move(recorder);
}

int32_t CVimbra::Record(const char* file, int32_t duration_ms, int32_t show_window) {
    // A negative duration would never end a recording short of the file's
    // size limit, so it is refused like a missing name.
    if (file == nullptr || file[0] == '\0' || duration_ms < 0) {
        RecordError(VIMBRA_ERR_ARGUMENT);
        return 0;
    }
    std::lock_guard<std::recursive_mutex> control(control_);
    // A second recording is refused, and the running one goes on untouched:
    // the recorder holds one file and one thread.
    if (recorder_ && recorder_->Running()) {
        RecordError(VIMBRA_ERR_STATE);
        return 0;
    }
    StoreHostTarget(nullptr, nullptr, 0, 0);
    if (show_window != 0 && !OpenPreviewWindow()) return 0;
    // A preview already running goes on.
    if (!StartPreview()) {
        Close();
        RecordError(VIMBRA_ERR_FILE);
        return 0;
    }
    int32_t width = 0, height = 0;
    {
        std::lock_guard<platform::RecursiveLock> images(image_lock_);
        if (const CDibImage* out = OutputOfMode(FrameMode())) {
            width = out->width();
            height = out->height();
        }
    }
    const SessionRecorder::Start started =
        recorder_ ? recorder_->Begin(file, width, height, static_cast<uint32_t>(duration_ms))
                  : SessionRecorder::Start::kOpenFailed;
    if (started != SessionRecorder::Start::kStarted) {
        Close();
        RecordError(started == SessionRecorder::Start::kThreadFailed ? VIMBRA_ERR_THREAD
                                                                     : VIMBRA_ERR_FILE);
        return 0;
    }
    return 1;
}

int32_t CVimbra::RecordW(const char16_t* file, int32_t duration_ms, int32_t show_window) {
    char narrow[kPathBufferBytes];
    if (!platform::WideToNarrow(file, narrow, sizeof narrow)) {
        // A missing name is an argument fault, not a conversion one.
        RecordError(file == nullptr ? VIMBRA_ERR_ARGUMENT : VIMBRA_ERR_FILE);
        return 0;
    }
    return Record(narrow, duration_ms, show_window);
}

}  // namespace vimbra
