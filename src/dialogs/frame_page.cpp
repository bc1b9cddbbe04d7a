#include "dialogs/frame_page.h"

namespace vimbra::dialogs {

FramePage::FramePage(std::function<void(int)> on_command) : on_command_(std::move(on_command)) {
    for (int id : {kFrameOk, kFrameCancel, kFrameDefault}) Add(id, ControlKind::kButton);
    Add(kFrameTab, ControlKind::kTab);
}

void FramePage::SetTabs(std::vector<std::string> captions) {
    SetItems(kFrameTab, std::move(captions));
    SetSelection(kFrameTab, 0);
}

}  // namespace vimbra::dialogs
