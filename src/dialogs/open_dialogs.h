// The link between the session's frame processing and an open analog or
// image filter dialog. The acquisition thread posts what it changed; the
// dialog's thread takes the requests and applies them to its controls.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace vimbra::dialogs {

enum class DialogRequest {
    kGlobalGain,     // auto iris set this global gain: shown in the gain edit
    kExposure,       // auto iris set this exposure: shown in the exposure edit
    kRefreshFilter,  // the filter record changed: both pages show it again
};

struct PostedRequest {
    DialogRequest what;
    int32_t value = 0;
};

// Requests waiting for one dialog. Posting is safe from any thread and calls
// the wake function, which lets the dialog's event loop return to take them.
class RequestInbox {
  public:
    void SetWake(std::function<void()> wake);
    void Post(PostedRequest request);
    std::vector<PostedRequest> Take();

  private:
    std::mutex mutex_;
    std::vector<PostedRequest> pending_;  // guarded by mutex_
    std::function<void()> wake_;          // guarded by mutex_
};

// The session's open dialogs: at most one analog and one image filter dialog.
class OpenDialogs {
  public:
    // Dialog thread: the inbox of the dialog that opens, nullptr when it ends.
    // After detaching, no request reaches the inbox any more. Attaching fails
    // (false) while another dialog of the same kind is attached, so a second
    // dialog cannot take the first one's requests away.
    bool AttachAnalog(RequestInbox* inbox);
    bool AttachImage(RequestInbox* inbox);

    // Acquisition thread; without an open dialog nothing happens.
    void AutoIrisGain(int32_t gain);
    void AutoIrisExposure(int32_t rows);
    void FilterChanged();

  private:
    std::mutex mutex_;
    RequestInbox* analog_ = nullptr;  // guarded by mutex_
    RequestInbox* image_ = nullptr;   // guarded by mutex_
};

}  // namespace vimbra::dialogs
