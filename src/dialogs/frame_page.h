// The frame of a tabbed property dialog: its tab control and its OK, Cancel
// and Default buttons, whose clicks the owning dialog handles.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dialogs/control_page.h"

namespace vimbra::dialogs {

// Dialog results.
inline constexpr int kResultOk = 1;
inline constexpr int kResultCancel = 2;
// A display's answer when the dialog's window could not be made.
inline constexpr int kResultNotShown = -1;

// Control ids shared by the frames of the analog and image filter dialogs.
enum FrameControl : int {
    kFrameOk = 1,
    kFrameCancel = 2,
    kFrameDefault = 3,
    kFrameTab = 1001,
};

class FramePage : public ControlPage {
  public:
    // `on_command` receives button clicks and tab selection changes (as the
    // tab control's id).
    explicit FramePage(std::function<void(int)> on_command);
    void SetTabs(std::vector<std::string> captions);

  private:
    void OnClick(int id) override { on_command_(id); }
    void OnSelectionChange(int id) override { on_command_(id); }
    std::function<void(int)> on_command_;
};

}  // namespace vimbra::dialogs
