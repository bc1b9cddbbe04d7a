#include "dialogs/dialog_flow.h"

namespace vimbra::dialogs {
namespace {

// Code 1 without a device, code 4 without a display; true when the dialog may open.
bool CanOpen(DialogSession& session, DialogDisplay& display) {
    if (!session.HasDevice()) {
        session.RecordError(VIMBRA_ERR_STATE);
        return false;
    }
    if (!display.Available()) {
        session.RecordError(VIMBRA_ERR_WINDOW);
        return false;
    }
    return true;
}

// 1 for a dialog that was shown; code 4 and 0 when its window could not be made.
int32_t Shown(DialogSession& session, int result) {
    if (result != kResultNotShown) return 1;
    session.RecordError(VIMBRA_ERR_WINDOW);
    return 0;
}

// Connects a dialog's inbox to the session's requests for its lifetime;
// not attached when a dialog of the same kind is already open.
class Attachment {
  public:
    using Attach = bool (OpenDialogs::*)(RequestInbox*);
    Attachment(OpenDialogs& dialogs, Attach attach, RequestInbox& inbox)
        : dialogs_(dialogs), attach_(attach), attached_((dialogs_.*attach_)(&inbox)) {}
    ~Attachment() {
        if (attached_) (dialogs_.*attach_)(nullptr);
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;
    bool Attached() const { return attached_; }

  private:
    OpenDialogs& dialogs_;
    Attach attach_;
    bool attached_;
};

// Code 1 and false when the session already shows a dialog of this kind.
bool Claimed(DialogSession& session, const Attachment& attachment) {
    if (attachment.Attached()) return true;
    session.RecordError(VIMBRA_ERR_STATE);
    return false;
}

}  // namespace

int32_t RunCameraDialog(DialogSession& session, DialogDisplay& display, HWND owner) {
    if (!CanOpen(session, display)) return 0;
    session.PauseAcquisition();
    CameraDialogModel model(session, UserLanguage());
    model.Init();
    const int result = display.Run(model, owner);
    session.ResumeAcquisition(result == kResultOk);
    return Shown(session, result);
}

int32_t RunAnalogDialog(DialogSession& session, DialogDisplay& display, HWND owner) {
    if (!CanOpen(session, display)) return 0;
    AnalogDialogModel model(session);
    Attachment attachment(session.Dialogs(), &OpenDialogs::AttachAnalog, model.Inbox());
    if (!Claimed(session, attachment)) return 0;
    session.ReadAnalogFromCamera();
    const AnalogRecord kept = session.Analog();
    const int32_t kept_bayer_mode = session.FilterField(filter_slot::kBayerMode);
    model.Init();
    const int result = display.Run(model, owner);
    if (result != kResultOk) {
        WriteGainsAndExposure(session, kept);
        session.WriteMirrorV(kept.v_mirror);
        session.WriteMirrorH(kept.h_mirror);
        session.SetAnalog(kept);
        session.SetFilterField(filter_slot::kBayerMode, kept_bayer_mode);
    }
    return Shown(session, result);
}

int32_t RunImageDialog(DialogSession& session, DialogDisplay& display, HWND owner) {
    if (!CanOpen(session, display)) return 0;
    ImageDialogModel model(session);
    Attachment attachment(session.Dialogs(), &OpenDialogs::AttachImage, model.Inbox());
    if (!Claimed(session, attachment)) return 0;
    const FilterRecord kept = session.Filter();
    model.Init();
    const int result = display.Run(model, owner);
    if (result != kResultOk) session.SetFilter(kept);
    return Shown(session, result);
}

}  // namespace vimbra::dialogs
