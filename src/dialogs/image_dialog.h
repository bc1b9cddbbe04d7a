// The image filter dialog: the software filter's tone settings, Bayer gains,
// white balance and Bayer mode on its first page, and for monochrome colour
// modes the gray filter on a second page. Both pages write the session's
// filter record at once; Cancel puts it back (see RunImageDialog).
#pragma once

#include <array>
#include <functional>
#include <vector>

#include "dialogs/control_page.h"
#include "dialogs/dialog_session.h"
#include "dialogs/filter_fields.h"
#include "dialogs/frame_page.h"
#include "dialogs/open_dialogs.h"

namespace vimbra::dialogs {

// Control ids of the two pages. The pages are separate windows, so some ids
// appear on both.
enum FilterControl : int {
    kBayerMode0Radio = 1030,  // 1030..1033: Bayer modes 0..3
    kAllFramesBox = 1035,
    kOnceButton = 2074,
    // Gray page only.
    kGrayModeBayerRadio = 1046,
    kGrayModeConvertRadio = 1047,
    kGrayModeGrayscaleRadio = 1048,
};

// One trackbar, edit and up-down triple bound to a filter record field.
struct FilterSetting {
    int bar, edit, updown;
    int32_t min, max, tick_frequency;
    int index;  // field of the filter record
};

// The image page's nine settings, in the order of the enable flags.
extern const std::array<FilterSetting, 9> kImageSettings;
// The gray page's eight settings: four gains, then four offsets.
extern const std::array<FilterSetting, 8> kGraySettings;

// What the colour mode lets the user change.
struct FilterEnableFlags {
    std::array<bool, 9> settings{};  // kImageSettings order
    bool white_balance = false;      // "Once", "All frames" and the Bayer mode buttons
    bool gray_tab = false;
};
FilterEnableFlags EnableFlagsFor(int32_t colour_mode);

// A page of triples bound to filter record fields, with Bayer mode buttons.
class FilterPage : public ControlPage {
  public:
    FilterPage(DialogSession& session, const FilterSetting* settings, size_t count);
    // Trackbars and edits from the record.
    void RefreshSettings();
    // OK: the edits into the record.
    void ReadEdits();
    // Checks the button of `mode` (none outside 0..3).
    void ShowBayerMode(int32_t mode);
    void Show(bool shown) { SetVisible(shown); }
    // Called after a Bayer mode button of this page set the record's mode.
    std::function<void(int32_t)> bayer_chosen;

  protected:
    void SetUpSettings(const bool* enabled);
    void OnEditChange(int id) override;
    void OnHScroll(int trackbar) override;
    // Handles a click on a Bayer mode button; false for other controls.
    bool ClickedBayerMode(int id);

    DialogSession& session_;
    const FilterSetting* settings_;
    size_t count_;
    bool accept_changes_ = false;
};

class ImagePage : public FilterPage {
  public:
    ImagePage(DialogSession& session, const FilterEnableFlags& flags);
    void Init();
    void Refresh();
    // OK: edits and the first checked Bayer mode button into the record.
    void ReadInto();

  private:
    void OnClick(int id) override;
    FilterEnableFlags flags_;
};

class GrayPage : public FilterPage {
  public:
    explicit GrayPage(DialogSession& session);
    void Init();
    void Refresh() { RefreshSettings(); }
    void ReadInto() { ReadEdits(); }

  private:
    void OnClick(int id) override;
};

class ImageDialogModel {
  public:
    explicit ImageDialogModel(DialogSession& session);
    void Init();
    int Result() const { return result_; }
    void Close() { frame_.Click(kFrameCancel); }
    void ProcessRequests();

    bool HasGrayPage() const { return flags_.gray_tab; }
    FramePage& Frame() { return frame_; }
    ImagePage& Image() { return image_; }
    GrayPage& Gray() { return gray_; }
    RequestInbox& Inbox() { return inbox_; }

  private:
    void OnFrame(int id);
    void Refresh();

    DialogSession& session_;
    FilterEnableFlags flags_;
    FramePage frame_;
    ImagePage image_;
    GrayPage gray_;
    RequestInbox inbox_;
    int result_ = 0;
};

}  // namespace vimbra::dialogs
