// The AVI recorder of the output layer as the session's recorder: it takes
// its frames through CVimbra::TakeNewFrame on the recorder's thread.
#pragma once

#include <memory>

#include "session/recorder_seam.h"

namespace vimbra {

class CVimbra;

// A recorder for `session`, which must outlive it.
std::unique_ptr<SessionRecorder> MakeAviRecorder(CVimbra& session);

}  // namespace vimbra
