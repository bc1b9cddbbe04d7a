#include "output/avi_recorder.h"

#include <algorithm>
#include <system_error>

#include "image/convert.h"
#include "platform/clock.h"

namespace vimbra {

namespace {

// Hundredths of a frame per second for `frames` taken over `elapsed_ms`
// (first to last frame), in 64 bits so that long recordings do not wrap.
// Without a measurable time the header's initial rate stays.
uint32_t MeasuredRate(uint32_t frames, uint32_t elapsed_ms) {
    if (frames == 0 || elapsed_ms == 0) return CAviWriter::kInitialRate;
    const uint64_t rate = uint64_t{frames} * 100000 / elapsed_ms;
    return static_cast<uint32_t>(std::clamp<uint64_t>(rate, 1, UINT32_MAX));
}

}  // namespace

CAviRecorder::CAviRecorder(Clock clock, uint32_t max_riff_size)
    : clock_(clock != nullptr ? clock : platform::TimeGetTime), writer_(max_riff_size) {}

CAviRecorder::~CAviRecorder() {
    Stop();
}

CAviRecorder::StartResult CAviRecorder::Start(const char* file_name, int32_t width, int32_t height,
                                              uint32_t duration_ms, RecorderFrameSource* source) {
    std::lock_guard<std::mutex> control(control_);
    // A second recording would reset the file under the running thread.
    if (recording()) return StartResult::kBusy;
    Join();
    if (source == nullptr || width <= 0 || height <= 0) return StartResult::kInvalid;
    if (!writer_.Begin(file_name, width, height)) return StartResult::kOpenFailed;
    width_ = width;
    height_ = height;
    recording_.store(true, std::memory_order_release);
    try {
        thread_ = std::thread(&CAviRecorder::Run, this, source, duration_ms);
    } catch (const std::system_error&) {
        recording_.store(false, std::memory_order_release);
        writer_.Reset();
        return StartResult::kThreadFailed;
    }
    return StartResult::kStarted;
}

void CAviRecorder::Stop() {
    std::lock_guard<std::mutex> control(control_);
    recording_.store(false, std::memory_order_release);
    Join();
}

void CAviRecorder::Join() {
    if (thread_.joinable()) thread_.join();
}

void CAviRecorder::ConvertFrame(CDibImage& current) {
    // Every path ends in frame_ as a bottom-up 24-bit DIB. 8-bit grey goes
    // through the colour table, 16-bit grey keeps bits 2..9 as 48 and 64-bit
    // colour do, and 24 and 32-bit pixels keep their first three bytes.
    switch (current.bit_count()) {
        case 8:
            upright_.Draw(&current, nullptr, 0, 0);
            CDibImage::ConvertBlit(&frame_, Colour24CopyTurned, &upright_, nullptr, 0, 0, nullptr,
                                   nullptr);
            break;
        case 16:
            CDibImage::ConvertBlit(&grey_, Mono16To8Shift2Turned, &current, nullptr, 0, 0, nullptr,
                                   nullptr);
            frame_.Draw(&grey_, nullptr, 0, 0);
            break;
        case 48:
        case 64:
            CDibImage::ConvertBlit(&frame_, Colour48To24Shift2Turned, &current, nullptr, 0, 0,
                                   nullptr, nullptr);
            break;
        default:
            CDibImage::ConvertBlit(&frame_, Colour24CopyTurned, &current, nullptr, 0, 0, nullptr,
                                   nullptr);
            break;
    }
}

void CAviRecorder::Run(RecorderFrameSource* source, uint32_t duration_ms) {
    const bool buffers = grey_.Create(width_, height_, 8) && upright_.Create(width_, height_, 24) &&
                         frame_.Create(width_, height_, 24);
    bool started = false, failed = false;
    uint32_t start = 0, last = 0;
    while (buffers && recording_.load(std::memory_order_acquire)) {
        platform::SleepMs(kPollMs);
        if (!source->TakeNewFrame(*this)) continue;
        const uint32_t now = clock_();
        if (!started) {
            started = true;
            start = now;
        }
        // A frame that would take the file past the format's 32-bit sizes
        // ends the recording instead.
        if (!writer_.HasRoomForFrame()) break;
        // A failed write (a full disk) ends the recording with the frames
        // written whole.
        if (!writer_.AppendFrame(frame_.bits())) {
            failed = true;
            break;
        }
        last = now;
        // Measured as time since the first frame, which stays right when the
        // millisecond clock wraps.
        if (now - start > duration_ms) break;
    }
    if (!writer_.Finish(MeasuredRate(writer_.frame_count(), last - start))) failed = true;
    if (failed) source->WriteFailed();
    grey_.Destroy();
    upright_.Destroy();
    frame_.Destroy();
    recording_.store(false, std::memory_order_release);
}

}  // namespace vimbra
