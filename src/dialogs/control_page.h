// The state of one dialog page's controls, keyed by control id, and the
// window-system behaviour the dialogs rely on: setting an edit's text sends
// its change notification, trackbars clamp to their range, up-down controls
// step their buddy edit, automatic check boxes and radio buttons change state
// before their click is handled. Dialog models derive from it and a view only
// draws the state and forwards the user's actions by control id.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vimbra::dialogs {

enum class ControlKind {
    kEdit,
    kTrackbar,
    kUpDown,
    kCheckBox,
    kRadio,
    kButton,
    kDropDown,
    kTab,
    kText,
};

struct Control {
    ControlKind kind = ControlKind::kText;
    bool enabled = true;
    bool read_only = false;  // edits only
    std::string text;        // edits and texts
    int32_t position = 0;    // trackbars and up-down controls
    int32_t min = 0;
    int32_t max = 0;
    int32_t tick_frequency = 0;      // trackbars
    int buddy = 0;                   // the edit an up-down control writes
    bool checked = false;            // check boxes and radio buttons
    std::vector<std::string> items;  // drop-down lists and tabs
    int selection = -1;              // -1: nothing selected
};

// The value GetDlgItemInt gives for an edit's text: optional blanks, a sign
// when `is_signed`, decimal digits, optional blanks; anything else, or a value
// that does not fit, reads as 0.
int32_t ParseDialogInt(std::string_view text, bool is_signed);

class ControlPage {
  public:
    virtual ~ControlPage() = default;

    // The user's actions, as the window system reports them. Actions on
    // controls that are disabled, read-only or unknown are ignored, as the
    // window system would not deliver them.
    void TypeText(int id, std::string_view text);
    void MoveTrackbar(int id, int32_t position);
    void StepUpDown(int id, int32_t delta);
    void Click(int id);
    void Choose(int id, int index);

    const Control& At(int id) const;
    bool Has(int id) const { return controls_.count(id) != 0; }
    const std::map<int, Control>& Controls() const { return controls_; }
    bool Visible() const { return visible_; }

  protected:
    Control& Add(int id, ControlKind kind);
    Control& Mutable(int id);
    void SetVisible(bool visible) { visible_ = visible; }

    // Window-system operations a dialog performs on its own controls.
    void SetText(int id, std::string text);  // sends the edit's change notification
    void SetInt(int id, int32_t value);      // as SetDlgItemInt, signed
    void SetUnsigned(int id, uint32_t value);
    int32_t GetInt(int id) const { return ParseDialogInt(At(id).text, true); }
    uint32_t GetUnsigned(int id) const {
        return static_cast<uint32_t>(ParseDialogInt(At(id).text, false));
    }
    void SetTrackbarPosition(int id, int32_t position);  // clamped to the range
    void SetChecked(int id, bool checked);
    void SetEnabled(int id, bool enabled);
    void SetItems(int id, std::vector<std::string> items);
    void SetSelection(int id, int index);  // out of range selects nothing
    // Trackbar maximum then minimum, position, tick frequency; up-down range,
    // position and buddy; the edit's text; all three enabled or disabled.
    void SetUpTriple(int trackbar, int edit, int updown, int32_t min, int32_t max,
                     int32_t tick_frequency, int32_t value, bool enabled);
    // Radio buttons that uncheck each other when one is clicked.
    void AddRadioGroup(std::vector<int> ids);

    // Notifications, delivered after the control's own state has changed.
    virtual void OnEditChange(int /*id*/) {}
    virtual void OnHScroll(int /*trackbar*/) {}
    virtual void OnClick(int /*id*/) {}
    virtual void OnSelectionChange(int /*id*/) {}

  private:
    bool Accepts(int id) const;

    std::map<int, Control> controls_;
    std::vector<std::vector<int>> radio_groups_;
    bool visible_ = true;
};

}  // namespace vimbra::dialogs
