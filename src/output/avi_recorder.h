// CAviRecorder: records the live picture of a session into an AVI file for a
// given time, on a thread of its own.
//
// How the recorder meets the acquisition
// --------------------------------------
// The recorder knows nothing of sessions. The session starts it with the
// size and bit count of its current image and a RecorderFrameSource, and
// stops it when the acquisition stops. Every 10 ms the recorder's thread
// calls the source's TakeNewFrame. The session implements it as:
//
//     bool TakeNewFrame(RecorderFrameConverter& converter) override {
//         if (!new_frame_.exchange(false)) return false;   // flag set per converted frame
//         std::lock_guard lock(image_lock_);
//         CDibImage* current = CurrentImage();
//         if (current == nullptr) return false;
//         converter.ConvertFrame(*current);
//         return true;
//     }
//
// So the image lock is held only while the picture is turned into a 24-bit
// frame in the recorder's own buffer; the recorder appends that frame to the
// file after TakeNewFrame has returned, outside the lock, and a slow disk
// does not hold up the acquisition. Frames converted between two polls are
// not queued: each poll sees the newest one, so a recording holds at most
// one frame per 10 ms and its stored rate is that of the frames written.
//
// The recording ends on the first frame whose clock reading is more than the
// duration after the first frame's, or when Stop is called (the session
// calls it when preview stops, the acquisition closes or the session is
// released), or when the next frame would take the file past the 32-bit
// sizes of the format, or when a write fails (a full disk). In every case the
// file is finished: index written, sizes, frame counts and the measured rate
// patched, file closed.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "image/dib_image.h"
#include "output/avi_writer.h"

namespace vimbra {

// Implemented by the recorder; called by the frame source.
class RecorderFrameConverter {
  public:
    // Turns `current` (8, 16, 24, 32, 48 or 64 bits per pixel) into the
    // recorder's next bottom-up 24-bit frame. Reads the image only; call it
    // with the image lock held, from within TakeNewFrame.
    virtual void ConvertFrame(CDibImage& current) = 0;

  protected:
    ~RecorderFrameConverter() = default;
};

// Implemented by the session; called on the recorder's thread at every poll.
class RecorderFrameSource {
  public:
    // When a frame has been converted since the last call: clear that
    // signal, hold the image lock while calling converter.ConvertFrame on the
    // current image, and return true. Otherwise return false at once without
    // calling it. Must not wait for a frame.
    virtual bool TakeNewFrame(RecorderFrameConverter& converter) = 0;
    // Called on the recorder's thread, before the recording counts as ended,
    // when writing the file failed; the file keeps the frames written whole.
    virtual void WriteFailed() {}

  protected:
    ~RecorderFrameSource() = default;
};

class CAviRecorder : private RecorderFrameConverter {
  public:
    // Milliseconds of the clock frame times are read from (wrapping at 2^32).
    using Clock = uint32_t (*)();
    static constexpr uint32_t kPollMs = 10;

    enum class StartResult {
        kStarted,
        kBusy,          // a recording is running; it goes on untouched
        kInvalid,       // no source, or a size that gives no frame
        kOpenFailed,    // the file can be neither truncated nor created
        kThreadFailed,  // the thread could not be made; the file is closed
    };

    // `clock` and `max_riff_size` are there for tests; the defaults are the
    // multimedia timer and the format's 32-bit limit.
    explicit CAviRecorder(Clock clock = nullptr, uint32_t max_riff_size = UINT32_MAX);
    // Stops a running recording, finishing its file.
    ~CAviRecorder();
    CAviRecorder(const CAviRecorder&) = delete;
    CAviRecorder& operator=(const CAviRecorder&) = delete;

    // Opens `file_name`, writes the header for width x height frames and
    // starts the thread, which polls `source` until `duration_ms` have passed
    // from the first frame taken. The source must outlive the recording (Stop
    // or the recording's end).
    StartResult Start(const char* file_name, int32_t width, int32_t height, uint32_t duration_ms,
                      RecorderFrameSource* source);
    // Ends a running recording and waits for its thread; the file is
    // finished with the frames taken so far. Nothing happens when idle.
    // Never call it holding the image lock: the thread may be waiting for it.
    void Stop();
    // True from a successful Start until the file is finished.
    bool recording() const { return recording_.load(std::memory_order_acquire); }

  private:
    void ConvertFrame(CDibImage& current) override;
    void Run(RecorderFrameSource* source, uint32_t duration_ms);
    void Join();

    const Clock clock_;
    std::mutex control_;  // serialises Start and Stop
    std::thread thread_;  // guarded by control_
    std::atomic<bool> recording_{false};
    // Everything below belongs to the recorder's thread while it runs.
    CAviWriter writer_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    CDibImage grey_;     // 8-bit step of 16-bit pictures
    CDibImage upright_;  // 24-bit step of 8 and 16-bit pictures
    CDibImage frame_;    // the frame appended to the file
};

}  // namespace vimbra
