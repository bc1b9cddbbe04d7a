// The analog dialog: global gain, the four colour gains, exposure, mirrors
// and the auto-iris mode, applied to the camera as they change. Cancel puts
// the camera and the analog record back (see RunAnalogDialog).
#pragma once

#include <string>

#include "dialogs/control_page.h"
#include "dialogs/dialog_session.h"
#include "dialogs/frame_page.h"
#include "dialogs/open_dialogs.h"

namespace vimbra::dialogs {

// Control ids of the analog dialog's frame and page.
enum AnalogControl : int {
    kGlobalGainBar = 1013,
    kGlobalGainEdit = 1015,
    kGainG1Bar = 1018,
    kGainG1Edit = 1019,
    kGainRBar = 1020,
    kGainREdit = 1021,
    kGainBBar = 1022,
    kGainBEdit = 1023,
    kGainG2Bar = 1024,
    kGainG2Edit = 1025,
    kExposureBar = 1026,
    kExposureEdit = 1027,
    kMirrorVBox = 1028,
    kMirrorHBox = 1029,
    kAutoIrisGainBox = 1036,
    kAutoIrisExposureBox = 1037,
    kGlobalGainUpDown = 1038,
    kGainG1UpDown = 1039,
    kGainRUpDown = 1040,
    kGainBUpDown = 1041,
    kGainG2UpDown = 1042,
    kExposureUpDown = 1043,
    kExposureTimeText = 1049,
};

// Writes the record's global gain, colour gains G1, R, B, G2 and exposure to
// the camera, in that order.
void WriteGainsAndExposure(DialogSession& session, const AnalogRecord& record);

class AnalogPage : public ControlPage {
  public:
    explicit AnalogPage(DialogSession& session);
    void Init();
    // OK: the six edits into the analog record.
    void ReadEdits();
    // Default: gains and exposure to the sensor's defaults.
    void Default();
    // Auto iris changed the gain or exposure: shown as if typed.
    void ShowAutoIris(const PostedRequest& request);

  private:
    void OnEditChange(int id) override;
    void OnHScroll(int trackbar) override;
    void OnClick(int id) override;
    void ShowExposureTime();

    DialogSession& session_;
    bool accept_changes_ = false;
};

class AnalogDialogModel {
  public:
    explicit AnalogDialogModel(DialogSession& session);
    void Init();
    int Result() const { return result_; }
    void Close() { frame_.Click(kFrameCancel); }
    // Applies requests posted by the acquisition thread; dialog thread only.
    void ProcessRequests();

    FramePage& Frame() { return frame_; }
    AnalogPage& Page() { return page_; }
    RequestInbox& Inbox() { return inbox_; }

  private:
    void OnFrame(int id);

    FramePage frame_;
    AnalogPage page_;
    RequestInbox inbox_;
    int result_ = 0;
};

}  // namespace vimbra::dialogs
