// The recorder as the session drives it: started on the current picture for
// a duration after preview has started, stopped when the acquisition stops.
// The output layer's AVI recorder is adapted to it; the session takes its
// frames through CVimbra::TakeNewFrame.
#pragma once

#include <cstdint>

namespace vimbra {

class SessionRecorder {
  public:
    enum class Start { kStarted, kOpenFailed, kThreadFailed };
    virtual ~SessionRecorder() = default;
    // Opens `file` for frames of width x height and starts recording for
    // `duration_ms` from the first frame taken.
    virtual Start Begin(const char* file, int32_t width, int32_t height, uint32_t duration_ms) = 0;
    // Ends a running recording and waits for it; nothing when idle. Never
    // called under the image lock.
    virtual void End() = 0;
    // True while a recording runs.
    virtual bool Running() const { return false; }
};

}  // namespace vimbra
