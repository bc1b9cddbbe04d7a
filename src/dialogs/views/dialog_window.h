// The window of one property dialog, drawn with FLTK from its model: every
// widget is bound to a control id of a model page, shows that control's
// state, and hands the user's actions to the model by id.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"
#include "dialogs/analog_dialog.h"
#include "dialogs/camera_dialog.h"
#include "dialogs/control_page.h"
#include "dialogs/image_dialog.h"

class Fl_Double_Window;
class Fl_Widget;

namespace vimbra::dialogs::views {

struct Binding;

class DialogWindow {
  public:
    static std::unique_ptr<DialogWindow> ForCamera(CameraDialogModel& model);
    static std::unique_ptr<DialogWindow> ForAnalog(AnalogDialogModel& model);
    static std::unique_ptr<DialogWindow> ForImage(ImageDialogModel& model);
    ~DialogWindow();
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    // Shows the window modally on the calling thread, transient for `owner`
    // when that is a window of the display, until the model ends; returns
    // the model's result. The display must be open.
    int RunModal(HWND owner);

    // The widget bound to a control of a page (tests send it events).
    Fl_Widget* Find(const ControlPage& page, int id) const;
    Fl_Double_Window& Window() { return *window_; }
    // Brings every widget in line with its control.
    void Sync();

  private:
    friend class Builder;
    DialogWindow() = default;

    std::unique_ptr<Fl_Double_Window> window_;
    std::vector<std::unique_ptr<Binding>> bindings_;
    std::function<int()> result_;
    std::function<void()> close_;
    std::function<void()> process_requests_;
    RequestInbox* inbox_ = nullptr;
};

}  // namespace vimbra::dialogs::views
