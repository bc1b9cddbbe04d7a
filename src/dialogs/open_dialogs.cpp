#include "dialogs/open_dialogs.h"

namespace vimbra::dialogs {

void RequestInbox::SetWake(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

void RequestInbox::Post(PostedRequest request) {
    std::lock_guard lock(mutex_);
    pending_.push_back(request);
    if (wake_) wake_();
}

std::vector<PostedRequest> RequestInbox::Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(pending_, {});
}

namespace {

// Sets or clears a dialog slot; false when another inbox holds it.
bool AttachTo(RequestInbox*& slot, RequestInbox* inbox) {
    if (inbox != nullptr && slot != nullptr && slot != inbox) return false;
    slot = inbox;
    return true;
}

}  // namespace

bool OpenDialogs::AttachAnalog(RequestInbox* inbox) {
    std::lock_guard lock(mutex_);
    return AttachTo(analog_, inbox);
}

bool OpenDialogs::AttachImage(RequestInbox* inbox) {
    std::lock_guard lock(mutex_);
    return AttachTo(image_, inbox);
}

void OpenDialogs::AutoIrisGain(int32_t gain) {
    std::lock_guard lock(mutex_);
    if (analog_ != nullptr) analog_->Post({DialogRequest::kGlobalGain, gain});
}

void OpenDialogs::AutoIrisExposure(int32_t rows) {
    std::lock_guard lock(mutex_);
    if (analog_ != nullptr) analog_->Post({DialogRequest::kExposure, rows});
}

void OpenDialogs::FilterChanged() {
    std::lock_guard lock(mutex_);
    if (image_ != nullptr) image_->Post({DialogRequest::kRefreshFilter});
}

}  // namespace vimbra::dialogs
