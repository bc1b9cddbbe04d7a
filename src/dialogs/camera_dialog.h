// The camera (video format) dialog: colour format, frame size from the
// stored size list or a custom sensor window, sub-sampling, wait time and
// clock. It edits a copy of the stored format that is saved on OK and Apply;
// the session reloads the format after OK.
#pragma once

#include <string>

#include "dialogs/control_page.h"
#include "dialogs/dialog_language.h"
#include "dialogs/dialog_session.h"
#include "dialogs/frame_page.h"
#include "settings/settings_records.h"

namespace vimbra::dialogs {

// Control ids of the camera dialog.
enum CameraControl : int {
    kCameraOk = 1,
    kCameraCancel = 2,
    kCameraTab = 1001,
    kCameraApply = 1002,
    kColorList = 1009,
    kSizeList = 1010,
    kSubSampleList = 1012,
    kClockList = 1014,
    kTotalWidthEdit = 1039,  // 1039..1044: TH, TV, EH, EV, EHS, EVS
    kTotalHeightEdit = 1040,
    kWidthEdit = 1041,
    kHeightEdit = 1042,
    kLeftEdit = 1043,
    kTopEdit = 1044,
    kWaitTimeEdit = 1045,
};

// The text of one size in the size list.
std::string SizeText(const SizeEntry& entry);

class CameraDialogModel : public ControlPage {
  public:
    CameraDialogModel(DialogSession& session, Language language);

    // Loads the stored format and fills the controls (the dialog's set-up).
    void Init();
    // 0 while open, then kResultOk or kResultCancel.
    int Result() const { return result_; }
    // The close box: ends the dialog as Cancel does.
    void Close() { Click(kCameraCancel); }

    const CameraDialogSettings& Settings() const { return settings_; }
    Language Lang() const { return language_; }

  private:
    void OnEditChange(int id) override;
    void OnClick(int id) override;
    void OnSelectionChange(int id) override;

    void ShowEntry(int index);
    void FillSizeList();
    bool CustomOffered() const { return settings_.size_count < kMaxSizeEntries; }
    void ReadControls();

    DialogSession& session_;
    Language language_;
    CameraDialogSettings settings_;
    int result_ = 0;
};

}  // namespace vimbra::dialogs
