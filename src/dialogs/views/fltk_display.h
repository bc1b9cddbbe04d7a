// Shows the dialogs with FLTK on the X11 display named by $DISPLAY.
#pragma once

#include "dialogs/dialog_flow.h"

namespace vimbra::dialogs::views {

class FltkDisplay : public DialogDisplay {
  public:
    // Opens the display on first use; false when there is none or it has
    // gone away.
    bool Available() override;
    int Run(CameraDialogModel& model, HWND owner) override;
    int Run(AnalogDialogModel& model, HWND owner) override;
    int Run(ImageDialogModel& model, HWND owner) override;
};

}  // namespace vimbra::dialogs::views
