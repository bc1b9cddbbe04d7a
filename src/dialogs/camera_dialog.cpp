#include "dialogs/camera_dialog.h"

#include <algorithm>
#include <array>

namespace vimbra::dialogs {
namespace {

// The texts of kSubSampleListModes; the same in both languages.
constexpr std::array<const char*, kSubSampleListModes.size()> kSubSampleTexts = {
    "1/1", "1/2 Skip", "1/4 Skip", "1/2 Bin", "1/4 Bin"};

struct CameraTexts {
    const char* tab;
    std::array<const char*, 6> colors;
    std::array<const char*, 3> clocks;
    const char* custom;
};

const CameraTexts& TextsFor(Language language) {
    static const CameraTexts kEnglish = {"Stream Format",
                                         {"Monochrome 8bit", "Monochrome 10bit *", "Color 24bit",
                                          "Color 32bit", "Color 48bit *", "Color 64bit *"},
                                         {"Nomal(24MHz)", "Half(12MHz)", "High(48MHz)"},
                                         "Custom"};
    static const CameraTexts kJapanese = {"ストリーム形式",
                                          {"白黒 8bit", "白黒 12bit ※", "カラー 24bit",
                                           "カラー 32bit", "カラー 48bit ※", "カラー 64bit ※"},
                                          {"標準(24MHz)", "ハーフ(12MHz)", "高速(48MHz)"},
                                          "カスタム"};
    return language == Language::kJapanese ? kJapanese : kEnglish;
}

template <size_t N>
std::vector<std::string> Lines(const std::array<const char*, N>& texts) {
    return {texts.begin(), texts.end()};
}

}  // namespace

std::string SizeText(const SizeEntry& entry) {
    return std::to_string(static_cast<int32_t>(entry.eh)) + " x " +
           std::to_string(static_cast<int32_t>(entry.ev));
}

CameraDialogModel::CameraDialogModel(DialogSession& session, Language language)
    : session_(session), language_(language) {
    Add(kCameraTab, ControlKind::kTab);
    for (int id : {kColorList, kSizeList, kSubSampleList, kClockList}) {
        Add(id, ControlKind::kDropDown);
    }
    for (int id = kTotalWidthEdit; id <= kWaitTimeEdit; ++id) Add(id, ControlKind::kEdit);
    Mutable(kTotalWidthEdit).read_only = true;
    Mutable(kTotalHeightEdit).read_only = true;
    for (int id : {kCameraOk, kCameraCancel, kCameraApply}) Add(id, ControlKind::kButton);
}

void CameraDialogModel::Init() {
    settings_ = CameraDialogSettings{};
    settings_.camera_number = session_.CameraNumber();
    session_.LoadCameraDialogSettings(settings_);
    // A stored index that names no line would show an entry beyond the table:
    // it selects the custom size instead (the first entry when the table is
    // full and offers none).
    settings_.size_count = std::clamp(settings_.size_count, 0, kMaxSizeEntries);
    const int last = CustomOffered() ? settings_.size_count : settings_.size_count - 1;
    if (settings_.size_index < 0 || settings_.size_index > last) {
        settings_.size_index = CustomOffered() ? settings_.size_count : 0;
    }

    const CameraTexts& texts = TextsFor(language_);
    SetItems(kCameraTab, {texts.tab});
    SetSelection(kCameraTab, 0);
    SetItems(kColorList, Lines(texts.colors));
    SetSelection(kColorList, settings_.color_index);
    SetItems(kSubSampleList, Lines(kSubSampleTexts));
    int position = 0;
    for (size_t i = 0; i < kSubSampleListModes.size(); ++i) {
        if (kSubSampleListModes[i] == settings_.sub_sample) position = static_cast<int>(i);
    }
    settings_.sub_sample = position;
    SetSelection(kSubSampleList, position);
    SetItems(kClockList, Lines(texts.clocks));
    SetSelection(kClockList, settings_.clock_index);
    FillSizeList();
    SetSelection(kSizeList, settings_.size_index);
    ShowEntry(settings_.size_index);
    SetUnsigned(kWaitTimeEdit, static_cast<uint32_t>(settings_.wait_time));
    SetEnabled(kCameraApply, false);
}

void CameraDialogModel::FillSizeList() {
    std::vector<std::string> lines;
    for (int i = 0; i < settings_.size_count; ++i) lines.push_back(SizeText(settings_.sizes[i]));
    if (CustomOffered()) lines.emplace_back(TextsFor(language_).custom);
    SetItems(kSizeList, std::move(lines));
}

void CameraDialogModel::ShowEntry(int index) {
    const SizeEntry& e = settings_.sizes[index];
    const uint32_t values[] = {e.th, e.tv, e.eh, e.ev, e.ehs, e.evs};
    for (int i = 0; i < 6; ++i) SetUnsigned(kTotalWidthEdit + i, values[i]);
}

void CameraDialogModel::OnEditChange(int /*id*/) {
    SetEnabled(kCameraApply, true);
}

void CameraDialogModel::OnSelectionChange(int id) {
    if (id == kCameraTab) return;
    if (id == kSizeList) {
        settings_.size_index = At(kSizeList).selection;
        if (settings_.size_index < settings_.size_count) ShowEntry(settings_.size_index);
    }
    SetEnabled(kCameraApply, true);
}

void CameraDialogModel::OnClick(int id) {
    if (result_ != 0) return;  // an ended dialog takes no more commands
    switch (id) {
        case kCameraOk:
            ReadControls();
            session_.SaveCameraDialogSettings(settings_);
            result_ = kResultOk;
            break;
        case kCameraApply:
            ReadControls();
            session_.SaveCameraDialogSettings(settings_);
            break;
        case kCameraCancel:
            result_ = kResultCancel;
            break;
        default:
            break;
    }
}

void CameraDialogModel::ReadControls() {
    // A list without a selection (a stored value no line stands for) keeps
    // the value that was loaded.
    const auto read_list = [this](int id, int32_t& field) {
        if (At(id).selection >= 0) field = At(id).selection;
    };
    read_list(kColorList, settings_.color_index);
    read_list(kSizeList, settings_.size_index);
    read_list(kSubSampleList, settings_.sub_sample);
    read_list(kClockList, settings_.clock_index);
    settings_.wait_time = static_cast<int32_t>(GetUnsigned(kWaitTimeEdit));

    const bool custom = settings_.size_index == settings_.size_count;
    SizeEntry& entry = settings_.sizes[settings_.size_index];
    uint32_t* fields[] = {&entry.th, &entry.tv, &entry.eh, &entry.ev, &entry.ehs, &entry.evs};
    for (int i = 0; i < 6; ++i) *fields[i] = GetUnsigned(kTotalWidthEdit + i);
    if (custom) {
        ++settings_.size_count;
        FillSizeList();
    } else {
        Mutable(kSizeList).items[settings_.size_index] = SizeText(entry);
    }
    SetSelection(kSizeList, settings_.size_index);
    SetEnabled(kCameraApply, false);
}

}  // namespace vimbra::dialogs
