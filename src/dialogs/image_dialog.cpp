#include "dialogs/image_dialog.h"

namespace vimbra::dialogs {

const std::array<FilterSetting, 9> kImageSettings = {{
    {2001, 2002, 2004, -255, 255, 64, filter_slot::kBrightness},
    {2011, 2012, 2014, -127, 127, 32, filter_slot::kContrast},
    {2021, 2022, 2024, -360, 360, 90, filter_slot::kHue},
    {2031, 2032, 2034, -255, 255, 64, filter_slot::kSaturation},
    {2041, 2042, 2044, 0, 30, 4, filter_slot::kSharpness},
    {2051, 2052, 2054, 0, 400, 32, filter_slot::kGainRed},
    {2061, 2062, 2063, 0, 400, 32, filter_slot::kGainGreen},
    {2071, 2072, 2073, 0, 400, 32, filter_slot::kGainBlue},
    {2081, 2082, 2084, 0, 200, 32, filter_slot::kGamma},
}};

const std::array<FilterSetting, 8> kGraySettings = {{
    {2100, 2101, 2102, 0, 400, 32, filter_slot::kGrayGainR},
    {2103, 2104, 2105, 0, 400, 32, filter_slot::kGrayGainG1},
    {2106, 2107, 2108, 0, 400, 32, filter_slot::kGrayGainG2},
    {2109, 2110, 2111, 0, 400, 32, filter_slot::kGrayGainB},
    {2112, 2113, 2114, 0, 400, 32, filter_slot::kGrayOffsetR},
    {2115, 2116, 2117, 0, 400, 32, filter_slot::kGrayOffsetG1},
    {2118, 2119, 2120, 0, 400, 32, filter_slot::kGrayOffsetG2},
    {2121, 2122, 2123, 0, 400, 32, filter_slot::kGrayOffsetB},
}};

namespace {

constexpr int kBayerButtons[] = {1030, 1031, 1032, 1033};
constexpr int kGrayModeButtons[] = {kGrayModeBayerRadio, kGrayModeConvertRadio,
                                    kGrayModeGrayscaleRadio};

}  // namespace

FilterEnableFlags EnableFlagsFor(int32_t colour_mode) {
    FilterEnableFlags flags;
    if (colour_mode == 0 || colour_mode == 1) {
        for (int i : {0, 1, 4, 8})
            flags.settings[i] = true;  // brightness, contrast, sharpness, gamma
        flags.gray_tab = true;
    } else if (colour_mode >= 2 && colour_mode <= 5) {
        flags.settings.fill(true);
        flags.white_balance = true;
    }
    return flags;
}

FilterPage::FilterPage(DialogSession& session, const FilterSetting* settings, size_t count)
    : session_(session), settings_(settings), count_(count) {
    for (size_t i = 0; i < count_; ++i) {
        Add(settings_[i].bar, ControlKind::kTrackbar);
        Add(settings_[i].edit, ControlKind::kEdit);
        Add(settings_[i].updown, ControlKind::kUpDown);
    }
    for (int id : kBayerButtons) Add(id, ControlKind::kRadio);
    AddRadioGroup({std::begin(kBayerButtons), std::end(kBayerButtons)});
    Add(kOnceButton, ControlKind::kButton);
    Add(kAllFramesBox, ControlKind::kCheckBox);
}

void FilterPage::SetUpSettings(const bool* enabled) {
    for (size_t i = 0; i < count_; ++i) {
        const FilterSetting& s = settings_[i];
        SetUpTriple(s.bar, s.edit, s.updown, s.min, s.max, s.tick_frequency,
                    session_.FilterField(s.index), enabled == nullptr || enabled[i]);
    }
}

void FilterPage::RefreshSettings() {
    for (size_t i = 0; i < count_; ++i) {
        SetTrackbarPosition(settings_[i].bar, session_.FilterField(settings_[i].index));
    }
    for (size_t i = 0; i < count_; ++i) {
        SetInt(settings_[i].edit, session_.FilterField(settings_[i].index));
    }
}

void FilterPage::ReadEdits() {
    for (size_t i = 0; i < count_; ++i) {
        session_.SetFilterField(settings_[i].index, GetInt(settings_[i].edit));
    }
}

void FilterPage::ShowBayerMode(int32_t mode) {
    for (int i = 0; i < 4; ++i) SetChecked(kBayerButtons[i], i == mode);
}

void FilterPage::OnEditChange(int id) {
    if (!accept_changes_) return;
    for (size_t i = 0; i < count_; ++i) {
        if (settings_[i].edit != id) continue;
        const int32_t value = GetInt(id);
        session_.SetFilterField(settings_[i].index, value);
        SetTrackbarPosition(settings_[i].bar, value);
    }
}

void FilterPage::OnHScroll(int trackbar) {
    for (size_t i = 0; i < count_; ++i) {
        if (settings_[i].bar != trackbar) continue;
        const int32_t position = At(trackbar).position;
        session_.SetFilterField(settings_[i].index, position);
        SetInt(settings_[i].edit, position);
    }
}

bool FilterPage::ClickedBayerMode(int id) {
    for (int mode = 0; mode < 4; ++mode) {
        if (kBayerButtons[mode] != id) continue;
        session_.SetFilterField(filter_slot::kBayerMode, mode);
        if (bayer_chosen) bayer_chosen(mode);
        return true;
    }
    return false;
}

ImagePage::ImagePage(DialogSession& session, const FilterEnableFlags& flags)
    : FilterPage(session, kImageSettings.data(), kImageSettings.size()), flags_(flags) {}

void ImagePage::Init() {
    SetUpSettings(flags_.settings.data());
    for (int id : {kOnceButton, kAllFramesBox}) SetEnabled(id, flags_.white_balance);
    for (int id : kBayerButtons) SetEnabled(id, flags_.white_balance);
    ShowBayerMode(session_.FilterField(filter_slot::kBayerMode));
    accept_changes_ = true;
}

void ImagePage::Refresh() {
    RefreshSettings();
    ShowBayerMode(session_.FilterField(filter_slot::kBayerMode));
}

void ImagePage::ReadInto() {
    ReadEdits();
    for (int mode = 0; mode < 4; ++mode) {
        if (At(kBayerButtons[mode]).checked) {
            session_.SetFilterField(filter_slot::kBayerMode, mode);
            break;
        }
    }
}

void ImagePage::OnClick(int id) {
    if (ClickedBayerMode(id)) return;
    if (id == kAllFramesBox) {
        // With the flag set and no request, every frame is measured.
        session_.SetFilterField(filter_slot::kGainAuto, At(id).checked ? 1 : 0);
        session_.SetFilterField(filter_slot::kBalanceRequest0, 0);
        session_.SetFilterField(filter_slot::kBalanceRequest1, 0);
    } else if (id == kOnceButton) {
        // One measurement, after which the conversion clears all three.
        session_.SetFilterField(filter_slot::kGainAuto, 1);
        session_.SetFilterField(filter_slot::kBalanceRequest0, 1);
        session_.SetFilterField(filter_slot::kBalanceRequest1, 1);
        SetChecked(kAllFramesBox, false);
    }
}

GrayPage::GrayPage(DialogSession& session)
    : FilterPage(session, kGraySettings.data(), kGraySettings.size()) {
    for (int id : kGrayModeButtons) Add(id, ControlKind::kRadio);
    AddRadioGroup({std::begin(kGrayModeButtons), std::end(kGrayModeButtons)});
    SetVisible(false);
}

void GrayPage::Init() {
    SetUpSettings(nullptr);
    const int32_t mode = session_.FilterField(filter_slot::kGrayMode);
    for (int i = 0; i < 3; ++i) SetChecked(kGrayModeButtons[i], i == mode);
    ShowBayerMode(session_.FilterField(filter_slot::kBayerMode));
    accept_changes_ = true;
}

void GrayPage::OnClick(int id) {
    if (ClickedBayerMode(id)) return;
    for (int mode = 0; mode < 3; ++mode) {
        if (kGrayModeButtons[mode] == id) session_.SetFilterField(filter_slot::kGrayMode, mode);
    }
    if (id == kOnceButton) {
        session_.SetFilterField(filter_slot::kGreyBalanceRequest, 1);
    } else if (id == kAllFramesBox) {
        // Toggles between measuring every frame and off; the box's own state
        // is not consulted, so a pending single measurement turns it off.
        const int32_t request = session_.FilterField(filter_slot::kGreyBalanceRequest);
        session_.SetFilterField(filter_slot::kGreyBalanceRequest, request == 0 ? -1 : 0);
    }
}

ImageDialogModel::ImageDialogModel(DialogSession& session)
    : session_(session),
      flags_(EnableFlagsFor(session.ColorModeIndex())),
      frame_([this](int id) { OnFrame(id); }),
      image_(session, flags_),
      gray_(session) {
    // Both pages show the one Bayer mode field, so a choice on either page
    // is shown on the other and the image page's buttons read back on OK
    // keep it.
    image_.bayer_chosen = [this](int32_t mode) { gray_.ShowBayerMode(mode); };
    gray_.bayer_chosen = [this](int32_t mode) { image_.ShowBayerMode(mode); };
}

void ImageDialogModel::Init() {
    std::vector<std::string> tabs = {"Image Filter"};
    if (flags_.gray_tab) tabs.emplace_back("Gray Filter");
    frame_.SetTabs(std::move(tabs));
    image_.Init();
    image_.Show(true);
    if (flags_.gray_tab) gray_.Init();
    gray_.Show(false);
}

void ImageDialogModel::Refresh() {
    image_.Refresh();
    if (flags_.gray_tab) {
        gray_.Refresh();
        gray_.ShowBayerMode(session_.FilterField(filter_slot::kBayerMode));
    }
}

void ImageDialogModel::OnFrame(int id) {
    if (result_ != 0) return;  // an ended dialog takes no more commands
    switch (id) {
        case kFrameOk:
            image_.ReadInto();
            if (flags_.gray_tab) gray_.ReadInto();
            result_ = kResultOk;
            break;
        case kFrameCancel:
            result_ = kResultCancel;
            break;
        case kFrameDefault:
            for (int index : {filter_slot::kBrightness, filter_slot::kContrast, filter_slot::kHue,
                              filter_slot::kSaturation, filter_slot::kSharpness}) {
                session_.SetFilterField(index, 0);
            }
            for (int index : {filter_slot::kGainRed, filter_slot::kGainGreen,
                              filter_slot::kGainBlue, filter_slot::kGamma}) {
                session_.SetFilterField(index, 100);
            }
            session_.SetFilterField(filter_slot::kBayerMode, 3);
            if (flags_.gray_tab) {
                for (int i = 0; i < 4; ++i) {
                    session_.SetFilterField(kGraySettings[i].index, 128);
                    session_.SetFilterField(kGraySettings[i + 4].index, 0);
                }
            }
            Refresh();
            break;
        case kFrameTab: {
            const int tab = frame_.At(kFrameTab).selection;
            image_.Show(tab == 0);
            gray_.Show(tab == 1);
            break;
        }
        default:
            break;
    }
}

void ImageDialogModel::ProcessRequests() {
    bool refresh = false;
    for (const PostedRequest& request : inbox_.Take()) {
        refresh |= request.what == DialogRequest::kRefreshFilter;
    }
    if (refresh) Refresh();
}

}  // namespace vimbra::dialogs
