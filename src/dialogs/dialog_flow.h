// The three dialog calls of a session: the checks before a dialog opens, the
// work the session does around it (pausing acquisition, keeping values for
// Cancel) and the restore after it. The dialogs themselves are shown by a
// DialogDisplay, so the flows run under test with a scripted display.
#pragma once

#include <cstdint>

#include "VimbraSdk_740QX_RDL.h"
#include "dialogs/analog_dialog.h"
#include "dialogs/camera_dialog.h"
#include "dialogs/dialog_session.h"
#include "dialogs/image_dialog.h"

namespace vimbra::dialogs {

// Shows set-up models modally on the calling thread until they end.
class DialogDisplay {
  public:
    virtual ~DialogDisplay() = default;
    // Whether dialogs can be shown at all (a display can be reached).
    virtual bool Available() = 0;
    // Each returns the model's result; a window closed by other means than
    // the dialog's buttons ends it as Cancel does. kResultNotShown when the
    // window could not be made (the model then took no action). `owner` is
    // the host's window, or null.
    virtual int Run(CameraDialogModel& model, HWND owner) = 0;
    virtual int Run(AnalogDialogModel& model, HWND owner) = 0;
    virtual int Run(ImageDialogModel& model, HWND owner) = 0;
};

// Each returns 1 when the dialog ran, 0 when it could not open: code 1
// (VIMBRA_ERR_STATE) without a device, or for an analog or image filter
// dialog while the session already shows one of that kind; code 4
// (VIMBRA_ERR_WINDOW) without a display; and no setting is touched. A window
// the display could not make (a bad owner, say) also gives code 4 and 0,
// after the session is put back as after Cancel.
int32_t RunCameraDialog(DialogSession& session, DialogDisplay& display, HWND owner);
int32_t RunAnalogDialog(DialogSession& session, DialogDisplay& display, HWND owner);
int32_t RunImageDialog(DialogSession& session, DialogDisplay& display, HWND owner);

}  // namespace vimbra::dialogs
