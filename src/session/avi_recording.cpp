#include "session/avi_recording.h"

#include "output/avi_recorder.h"
#include "session/vimbra.h"

namespace vimbra {
namespace {

class AviSessionRecorder final : public SessionRecorder, private RecorderFrameSource {
  public:
    explicit AviSessionRecorder(CVimbra& session) : session_(session) {}

    Start Begin(const char* file, int32_t width, int32_t height, uint32_t duration_ms) override {
        switch (recorder_.Start(file, width, height, duration_ms, this)) {
            case CAviRecorder::StartResult::kStarted:
                return Start::kStarted;
            case CAviRecorder::StartResult::kThreadFailed:
                return Start::kThreadFailed;
            default:
                return Start::kOpenFailed;
        }
    }
    void End() override { recorder_.Stop(); }
    bool Running() const override { return recorder_.recording(); }

  private:
    // Only the conversion into the recorder's frame runs under the image
    // lock; the recorder writes the frame after this returns.
    bool TakeNewFrame(RecorderFrameConverter& converter) override {
        return session_.TakeNewFrame(
            [&converter](CDibImage& current) { converter.ConvertFrame(current); });
    }

    // The host learns of a recording cut short by a failed write as of any
    // other file failure.
    void WriteFailed() override { session_.RecordError(VIMBRA_ERR_FILE); }

    CVimbra& session_;
    CAviRecorder recorder_;  // destroyed first: its thread stops while the session is there
};

}  // namespace

std::unique_ptr<SessionRecorder> MakeAviRecorder(CVimbra& session) {
    return std::make_unique<AviSessionRecorder>(session);
}

}  // namespace vimbra
