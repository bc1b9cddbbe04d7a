#include "dialogs/analog_dialog.h"

#include <cstdio>

namespace vimbra::dialogs {
namespace {

enum class Kind { kGlobal, kColor, kExposure };

struct AnalogSetting {
    int bar, edit, updown;
    Kind kind;
    int32_t AnalogRecord::*field;
    ColorGainRegister reg;  // colour gains only
};

// Table order is the order of the record's fields.
constexpr AnalogSetting kSettings[] = {
    {kGlobalGainBar, kGlobalGainEdit, kGlobalGainUpDown, Kind::kGlobal, &AnalogRecord::global_gain,
     kRegisterG1},
    {kGainG1Bar, kGainG1Edit, kGainG1UpDown, Kind::kColor, &AnalogRecord::gain_g1, kRegisterG1},
    {kGainRBar, kGainREdit, kGainRUpDown, Kind::kColor, &AnalogRecord::gain_r, kRegisterR},
    {kGainBBar, kGainBEdit, kGainBUpDown, Kind::kColor, &AnalogRecord::gain_b, kRegisterB},
    {kGainG2Bar, kGainG2Edit, kGainG2UpDown, Kind::kColor, &AnalogRecord::gain_g2, kRegisterG2},
    {kExposureBar, kExposureEdit, kExposureUpDown, Kind::kExposure, &AnalogRecord::exposure,
     kRegisterG1},
};

const AnalogSetting* SettingOfEdit(int id) {
    for (const auto& s : kSettings) {
        if (s.edit == id) return &s;
    }
    return nullptr;
}

}  // namespace

void WriteGainsAndExposure(DialogSession& session, const AnalogRecord& record) {
    session.WriteGlobalGain(record.global_gain);
    session.WriteColorGain(kRegisterG1, record.gain_g1);
    session.WriteColorGain(kRegisterR, record.gain_r);
    session.WriteColorGain(kRegisterB, record.gain_b);
    session.WriteColorGain(kRegisterG2, record.gain_g2);
    session.WriteExposure(record.exposure);
}

AnalogPage::AnalogPage(DialogSession& session) : session_(session) {
    for (const auto& s : kSettings) {
        Add(s.bar, ControlKind::kTrackbar);
        Add(s.edit, ControlKind::kEdit);
        Add(s.updown, ControlKind::kUpDown);
    }
    for (int id : {kMirrorVBox, kMirrorHBox, kAutoIrisGainBox, kAutoIrisExposureBox}) {
        Add(id, ControlKind::kCheckBox);
    }
    Add(kExposureTimeText, ControlKind::kText).text = "= msec";
}

void AnalogPage::Init() {
    const AnalogRecord record = session_.Analog();
    const AnalogLimits limits = session_.Limits();
    for (const auto& s : kSettings) {
        const bool exposure = s.kind == Kind::kExposure;
        const int32_t min = exposure ? limits.exposure_min : limits.gain_min;
        const int32_t max = exposure ? limits.exposure_max : limits.gain_max;
        SetUpTriple(s.bar, s.edit, s.updown, min, max, (max - min) / 8, record.*s.field, true);
    }
    SetChecked(kMirrorVBox, record.v_mirror != 0);
    SetChecked(kMirrorHBox, record.h_mirror != 0);
    SetChecked(kAutoIrisExposureBox, record.auto_iris == 1);
    SetChecked(kAutoIrisGainBox, record.auto_iris == 2);
    ShowExposureTime();
    accept_changes_ = true;
}

void AnalogPage::ShowExposureTime() {
    const ExposureTiming timing = session_.Timing();
    const double ms = (static_cast<double>(session_.Analog().exposure) * timing.line_length +
                       timing.line_offset) *
                      timing.clock_period_ms;
    char text[64];
    std::snprintf(text, sizeof text, "=%.2fms", ms);
    SetText(kExposureTimeText, text);
}

void AnalogPage::OnEditChange(int id) {
    if (!accept_changes_) return;
    const AnalogSetting* s = SettingOfEdit(id);
    if (s == nullptr) return;
    const int32_t value = GetInt(id);
    session_.SetAnalogField(s->field, value);
    SetTrackbarPosition(s->bar, value);
    switch (s->kind) {
        case Kind::kGlobal:
            session_.WriteGlobalGain(value);
            // The colour gain edits then set each colour gain to the same value.
            for (int edit : {kGainG1Edit, kGainREdit, kGainBEdit, kGainG2Edit}) SetInt(edit, value);
            break;
        case Kind::kColor:
            session_.WriteColorGain(s->reg, value);
            break;
        case Kind::kExposure:
            session_.WriteExposure(value);
            ShowExposureTime();
            break;
    }
}

void AnalogPage::OnHScroll(int trackbar) {
    for (const auto& s : kSettings) {
        if (s.bar == trackbar) SetInt(s.edit, At(trackbar).position);
    }
}

void AnalogPage::OnClick(int id) {
    const bool checked = At(id).checked;
    switch (id) {
        case kMirrorVBox:
            session_.WriteMirrorV(checked ? 1 : 0);
            session_.SetAnalogField(&AnalogRecord::v_mirror, checked ? 1 : 0);
            break;
        case kMirrorHBox:
            session_.WriteMirrorH(checked ? 1 : 0);
            session_.SetAnalogField(&AnalogRecord::h_mirror, checked ? 1 : 0);
            break;
        case kAutoIrisGainBox:
            if (checked) SetChecked(kAutoIrisExposureBox, false);
            session_.SetAnalogField(&AnalogRecord::auto_iris, checked ? 2 : 0);
            break;
        case kAutoIrisExposureBox:
            if (checked) SetChecked(kAutoIrisGainBox, false);
            session_.SetAnalogField(&AnalogRecord::auto_iris, checked ? 1 : 0);
            break;
        default:
            break;
    }
}

void AnalogPage::ReadEdits() {
    for (const auto& s : kSettings) session_.SetAnalogField(s.field, GetInt(s.edit));
}

void AnalogPage::Default() {
    const AnalogLimits limits = session_.Limits();
    session_.SetAnalogField(&AnalogRecord::global_gain, limits.global_gain_default);
    for (int32_t AnalogRecord::*field : {&AnalogRecord::gain_g1, &AnalogRecord::gain_r,
                                         &AnalogRecord::gain_b, &AnalogRecord::gain_g2}) {
        session_.SetAnalogField(field, limits.color_gain_default);
    }
    session_.SetAnalogField(&AnalogRecord::exposure, limits.exposure_default);
    WriteGainsAndExposure(session_, session_.Analog());
    for (const auto& s : kSettings) {
        const int32_t value = session_.Analog().*s.field;
        SetTrackbarPosition(s.bar, value);
        SetInt(s.edit, value);
    }
}

void AnalogPage::ShowAutoIris(const PostedRequest& request) {
    if (request.what == DialogRequest::kGlobalGain) SetInt(kGlobalGainEdit, request.value);
    if (request.what == DialogRequest::kExposure) SetInt(kExposureEdit, request.value);
}

AnalogDialogModel::AnalogDialogModel(DialogSession& session)
    : frame_([this](int id) { OnFrame(id); }), page_(session) {}

void AnalogDialogModel::Init() {
    frame_.SetTabs({"Analog Gain"});
    page_.Init();
}

void AnalogDialogModel::OnFrame(int id) {
    if (result_ != 0) return;  // an ended dialog takes no more commands
    switch (id) {
        case kFrameOk:
            page_.ReadEdits();
            result_ = kResultOk;
            break;
        case kFrameCancel:
            result_ = kResultCancel;
            break;
        case kFrameDefault:
            page_.Default();
            break;
        default:
            break;
    }
}

void AnalogDialogModel::ProcessRequests() {
    for (const PostedRequest& request : inbox_.Take()) page_.ShowAutoIris(request);
}

}  // namespace vimbra::dialogs
