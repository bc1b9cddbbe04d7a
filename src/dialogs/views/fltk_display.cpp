#include "dialogs/views/fltk_display.h"

#include <FL/Fl.H>
#include <FL/x.H>

#include <mutex>

#include "dialogs/views/dialog_window.h"
#include "dialogs/views/system_display.h"
#include "platform/pipe_signal.h"
#include "platform/x11_display.h"

namespace vimbra::dialogs::views {
namespace {

// FLTK serves one thread at a time: dialogs opened from several host
// threads are shown one after the other.
std::mutex& DisplayMutex() {
    static std::mutex mutex;
    return mutex;
}

template <typename Model>
int Show(std::unique_ptr<DialogWindow> (*make)(Model&), Model& model, HWND owner) {
    std::lock_guard lock(DisplayMutex());
    platform::PipeSignalBlock no_sigpipe;
    std::unique_ptr<DialogWindow> window = make(model);
    return window->RunModal(owner);
}

}  // namespace

bool FltkDisplay::Available() {
    std::lock_guard lock(DisplayMutex());
    platform::PipeSignalBlock no_sigpipe;
    // FLTK keeps its first display: once that has gone away, no dialog can
    // open again.
    if (fl_display != nullptr) return !platform::X11ConnectionLost(fl_display);
    // FLTK ends the process when it cannot open a display itself, so the
    // display is opened here and handed to it.
    void* display = platform::OpenX11Display();
    if (display == nullptr) return false;
    fl_open_display(static_cast<Display*>(display));
    return true;
}

int FltkDisplay::Run(CameraDialogModel& model, HWND owner) {
    return Show(&DialogWindow::ForCamera, model, owner);
}

int FltkDisplay::Run(AnalogDialogModel& model, HWND owner) {
    return Show(&DialogWindow::ForAnalog, model, owner);
}

int FltkDisplay::Run(ImageDialogModel& model, HWND owner) {
    return Show(&DialogWindow::ForImage, model, owner);
}

DialogDisplay& SystemDisplay() {
    static FltkDisplay display;
    return display;
}

}  // namespace vimbra::dialogs::views
