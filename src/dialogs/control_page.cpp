#include "dialogs/control_page.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace vimbra::dialogs {

int32_t ParseDialogInt(std::string_view text, bool is_signed) {
    size_t i = 0;
    const auto skip_blanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    skip_blanks();
    bool negative = false;
    if (is_signed && i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t digits_start = i;
    int64_t value = 0;
    const int64_t limit = is_signed ? (negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1)
                                    : std::numeric_limits<uint32_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) return 0;
    }
    if (i == digits_start) return 0;
    skip_blanks();
    if (i != text.size()) return 0;
    if (negative) value = -value;
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

const Control& ControlPage::At(int id) const {
    const auto it = controls_.find(id);
    if (it == controls_.end()) throw std::out_of_range("no control " + std::to_string(id));
    return it->second;
}

Control& ControlPage::Add(int id, ControlKind kind) {
    Control& control = controls_[id];
    control.kind = kind;
    return control;
}

Control& ControlPage::Mutable(int id) {
    return const_cast<Control&>(At(id));
}

bool ControlPage::Accepts(int id) const {
    const auto it = controls_.find(id);
    return it != controls_.end() && it->second.enabled && !it->second.read_only;
}

void ControlPage::TypeText(int id, std::string_view text) {
    if (!Accepts(id) || At(id).kind != ControlKind::kEdit) return;
    SetText(id, std::string(text));
}

void ControlPage::MoveTrackbar(int id, int32_t position) {
    if (!Accepts(id) || At(id).kind != ControlKind::kTrackbar) return;
    SetTrackbarPosition(id, position);
    OnHScroll(id);
}

void ControlPage::StepUpDown(int id, int32_t delta) {
    if (!Accepts(id) || At(id).kind != ControlKind::kUpDown) return;
    Control& updown = Mutable(id);
    // The control starts from the number its buddy shows, as it does when the
    // user has typed into the edit since the last step.
    int32_t current = updown.position;
    if (updown.buddy != 0) {
        const std::string& shown = At(updown.buddy).text;
        if (!shown.empty()) current = ParseDialogInt(shown, true);
    }
    const int64_t wanted = std::clamp<int64_t>(int64_t{current} + delta, updown.min, updown.max);
    if (wanted == current && updown.position == current) return;
    updown.position = static_cast<int32_t>(wanted);
    if (updown.buddy != 0) SetInt(updown.buddy, updown.position);
}

void ControlPage::Click(int id) {
    if (!Accepts(id)) return;
    const ControlKind kind = At(id).kind;
    if (kind == ControlKind::kCheckBox) {
        Mutable(id).checked = !At(id).checked;
    } else if (kind == ControlKind::kRadio) {
        for (const auto& group : radio_groups_) {
            if (std::find(group.begin(), group.end(), id) == group.end()) continue;
            for (int other : group) Mutable(other).checked = false;
        }
        Mutable(id).checked = true;
    } else if (kind != ControlKind::kButton) {
        return;
    }
    OnClick(id);
}

void ControlPage::Choose(int id, int index) {
    if (!Accepts(id)) return;
    const Control& control = At(id);
    if (control.kind != ControlKind::kDropDown && control.kind != ControlKind::kTab) return;
    if (index < 0 || index >= static_cast<int>(control.items.size())) return;
    Mutable(id).selection = index;
    OnSelectionChange(id);
}

void ControlPage::SetText(int id, std::string text) {
    Mutable(id).text = std::move(text);
    if (At(id).kind == ControlKind::kEdit) OnEditChange(id);
}

void ControlPage::SetInt(int id, int32_t value) {
    SetText(id, std::to_string(value));
}

void ControlPage::SetUnsigned(int id, uint32_t value) {
    SetText(id, std::to_string(value));
}

void ControlPage::SetTrackbarPosition(int id, int32_t position) {
    Control& trackbar = Mutable(id);
    trackbar.position = std::clamp(position, trackbar.min, std::max(trackbar.min, trackbar.max));
}

void ControlPage::SetChecked(int id, bool checked) {
    Mutable(id).checked = checked;
}

void ControlPage::SetEnabled(int id, bool enabled) {
    Mutable(id).enabled = enabled;
}

void ControlPage::SetItems(int id, std::vector<std::string> items) {
    Control& control = Mutable(id);
    control.items = std::move(items);
    control.selection = -1;
}

void ControlPage::SetSelection(int id, int index) {
    Control& control = Mutable(id);
    control.selection = index >= 0 && index < static_cast<int>(control.items.size()) ? index : -1;
}

void ControlPage::SetUpTriple(int trackbar, int edit, int updown, int32_t min, int32_t max,
                              int32_t tick_frequency, int32_t value, bool enabled) {
    Control& bar = Mutable(trackbar);
    bar.max = max;
    bar.min = min;
    bar.tick_frequency = tick_frequency;
    SetTrackbarPosition(trackbar, value);
    Control& spin = Mutable(updown);
    spin.min = min;
    spin.max = max;
    spin.position = std::clamp(value, min, max);
    spin.buddy = edit;
    SetInt(edit, value);
    for (int id : {trackbar, edit, updown}) SetEnabled(id, enabled);
}

void ControlPage::AddRadioGroup(std::vector<int> ids) {
    radio_groups_.push_back(std::move(ids));
}

}  // namespace vimbra::dialogs
