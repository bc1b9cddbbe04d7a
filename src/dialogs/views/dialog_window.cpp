#include "dialogs/views/dialog_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Repeat_Button.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Tabs.H>
#include <FL/x.H>

#include <cmath>
#include <string>

#include "platform/window.h"
#include "platform/x11_display.h"

namespace vimbra::dialogs::views {

// One widget (two for an up-down control) bound to one control of a page.
struct Binding {
    DialogWindow* window;
    ControlPage* page;
    int id;
    Fl_Widget* widget;
    Fl_Widget* down = nullptr;             // the lower arrow of an up-down control
    std::vector<std::string> shown_items;  // lines a drop-down list or tab control shows
};

namespace {

constexpr int kFontSize = 12;
constexpr int kRowHeight = 22;

// An edit that takes digits only, as the dialogs' number edits do; the arrow
// keys step its up-down control.
class NumberInput : public Fl_Input {
  public:
    NumberInput(int x, int y, int w, int h) : Fl_Input(x, y, w, h) {}
    std::function<void(int)> step;

    int handle(int event) override {
        if (event == FL_KEYBOARD && (Fl::event_state() & (FL_CTRL | FL_ALT | FL_META)) == 0) {
            const int key = Fl::event_key();
            if ((key == FL_Up || key == FL_Down) && step) {
                step(key == FL_Up ? 1 : -1);
                return 1;
            }
            const char* text = Fl::event_text();
            const auto c = static_cast<unsigned char>(text[0]);
            if (Fl::event_length() == 1 && c >= 32 && c != 127 && (c < '0' || c > '9')) return 1;
        }
        return Fl_Input::handle(event);
    }
};

// A caption whose "&" underlines the next letter, as on the dialogs' buttons.
class Caption : public Fl_Box {
  public:
    Caption(int x, int y, int w, int h) : Fl_Box(x, y, w, h) { set_flag(SHORTCUT_LABEL); }
};

// Menu lines are paths to FLTK: a slash or backslash in a line is escaped,
// an ampersand doubled, so "1/2 Skip" stays one line.
std::string MenuText(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '/' || c == '\\') escaped += '\\';
        if (c == '&') escaped += '&';
        escaped += c;
    }
    return escaped;
}

void SyncBinding(Binding& b) {
    const Control& c = b.page->At(b.id);
    Fl_Widget* w = b.widget;
    switch (c.kind) {
        case ControlKind::kEdit: {
            auto* input = static_cast<Fl_Input*>(w);
            if (c.text != input->value()) input->value(c.text.c_str());
            input->readonly(c.read_only ? 1 : 0);
            break;
        }
        case ControlKind::kTrackbar: {
            auto* slider = static_cast<Fl_Slider*>(w);
            if (slider->minimum() != c.min || slider->maximum() != c.max) {
                slider->bounds(c.min, c.max);
            }
            slider->value(c.position);
            break;
        }
        case ControlKind::kCheckBox:
        case ControlKind::kRadio:
            static_cast<Fl_Button*>(w)->value(c.checked ? 1 : 0);
            break;
        case ControlKind::kDropDown: {
            auto* choice = static_cast<Fl_Choice*>(w);
            if (b.shown_items != c.items) {
                choice->clear();
                for (const std::string& line : c.items) choice->add(MenuText(line).c_str());
                b.shown_items = c.items;
            }
            if (choice->value() != c.selection) choice->value(c.selection);
            break;
        }
        case ControlKind::kTab: {
            auto* tabs = static_cast<Fl_Tabs*>(w);
            if (b.shown_items != c.items) {
                for (int i = 0; i < tabs->children() && i < static_cast<int>(c.items.size()); ++i) {
                    tabs->child(i)->copy_label(c.items[i].c_str());
                }
                b.shown_items = c.items;
                tabs->redraw();
            }
            if (c.selection >= 0 && c.selection < tabs->children() &&
                tabs->value() != tabs->child(c.selection)) {
                tabs->value(tabs->child(c.selection));
            }
            break;
        }
        case ControlKind::kText:
            if (w->label() == nullptr || c.text != w->label()) w->copy_label(c.text.c_str());
            break;
        case ControlKind::kUpDown:
        case ControlKind::kButton:
            break;
    }
    for (Fl_Widget* part : {w, b.down}) {
        if (part == nullptr) continue;
        if (c.enabled && !part->active()) part->activate();
        if (!c.enabled && part->active()) part->deactivate();
    }
}

void OnWidget(Fl_Widget* w, void* data) {
    auto* b = static_cast<Binding*>(data);
    switch (b->page->At(b->id).kind) {
        case ControlKind::kEdit:
            b->page->TypeText(b->id, static_cast<Fl_Input*>(w)->value());
            break;
        case ControlKind::kTrackbar:
            b->page->MoveTrackbar(
                b->id, static_cast<int32_t>(std::lround(static_cast<Fl_Slider*>(w)->value())));
            break;
        case ControlKind::kUpDown:
            b->page->StepUpDown(b->id, w == b->widget ? 1 : -1);
            break;
        case ControlKind::kCheckBox:
        case ControlKind::kRadio:
        case ControlKind::kButton:
            b->page->Click(b->id);
            break;
        case ControlKind::kDropDown:
            b->page->Choose(b->id, static_cast<Fl_Choice*>(w)->value());
            break;
        case ControlKind::kTab: {
            auto* tabs = static_cast<Fl_Tabs*>(w);
            b->page->Choose(b->id, tabs->find(tabs->value()));
            break;
        }
        case ControlKind::kText:
            break;
    }
    b->window->Sync();
}

}  // namespace

// Creates widgets in FLTK's current group and binds them to the controls of
// the current page.
class Builder {
  public:
    Builder(DialogWindow& window, int w, int h, const char* title) : window_(window) {
        window_.window_ = std::make_unique<Fl_Double_Window>(w, h);
        window_.window_->copy_label(title);
        window_.window_->callback(
            [](Fl_Widget*, void* data) {
                auto* self = static_cast<DialogWindow*>(data);
                self->close_();
                self->Sync();
            },
            &window_);
    }
    void Page(ControlPage& page) { page_ = &page; }

    Fl_Box* Text(int x, int y, int w, int h, const char* text) {
        auto* box = new Caption(x, y, w, h);
        box->copy_label(text);
        box->labelsize(kFontSize);
        box->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
        return box;
    }
    void BoundText(int id, int x, int y, int w, int h) { Bind(id, Text(x, y, w, h, "")); }
    // A group box: a frame with its caption at the top left.
    void Frame(int x, int y, int w, int h, const char* caption) {
        new Fl_Box(FL_ENGRAVED_FRAME, x, y + 7, w, h - 7, nullptr);
        // The caption sits over the frame's top line, on the dialog's colour.
        const int caption_w = static_cast<int>(std::string(caption).size()) * 7 + 6;
        Text(x + 8, y, caption_w, 14, caption)->box(FL_FLAT_BOX);
    }
    NumberInput* Edit(int id, int x, int y, int w) {
        auto* input = new NumberInput(x, y, w, kRowHeight);
        input->textsize(kFontSize);
        input->when(FL_WHEN_CHANGED);
        Bind(id, input);
        return input;
    }
    // Caption, trackbar, edit and up-down control on one row.
    void Triple(int bar, int edit, int updown, const char* caption, int x, int y, int caption_w,
                int bar_w) {
        Text(x, y, caption_w, kRowHeight, caption);
        auto* slider = new Fl_Slider(x + caption_w, y + 2, bar_w, kRowHeight - 4);
        slider->type(FL_HOR_NICE_SLIDER);
        slider->step(1);
        slider->when(FL_WHEN_CHANGED);
        Bind(bar, slider);
        NumberInput* input = Edit(edit, x + caption_w + bar_w + 8, y, 56);
        const int ux = x + caption_w + bar_w + 8 + 56;
        auto* up = new Fl_Repeat_Button(ux, y, 16, kRowHeight / 2, "@-28>");
        auto* down = new Fl_Repeat_Button(ux, y + kRowHeight / 2, 16, kRowHeight / 2, "@-22>");
        for (Fl_Button* arrow : {static_cast<Fl_Button*>(up), static_cast<Fl_Button*>(down)}) {
            arrow->labelsize(7);
        }
        Binding& b = Bind(updown, up);
        b.down = down;
        down->callback(OnWidget, &b);
        ControlPage* page = page_;
        DialogWindow* window = &window_;
        input->step = [page, updown, window](int delta) {
            page->StepUpDown(updown, delta);
            window->Sync();
        };
    }
    void Check(int id, int x, int y, int w, const char* caption) {
        auto* button = new Fl_Check_Button(x, y, w, kRowHeight);
        button->copy_label(caption);
        button->labelsize(kFontSize);
        Bind(id, button);
    }
    void Radio(int id, int x, int y, int w, const char* caption) {
        auto* button = new Fl_Round_Button(x, y, w, kRowHeight);
        if (caption != nullptr) button->copy_label(caption);
        button->labelsize(kFontSize);
        Bind(id, button);
    }
    void Button(int id, int x, int y, int w, const char* caption, bool default_button = false) {
        Fl_Button* button =
            default_button ? new Fl_Return_Button(x, y, w, 26) : new Fl_Button(x, y, w, 26);
        button->copy_label(caption);
        button->labelsize(kFontSize);
        Bind(id, button);
    }
    void DropDown(int id, int x, int y, int w) {
        auto* choice = new Fl_Choice(x, y, w, kRowHeight + 2);
        choice->textsize(kFontSize);
        Bind(id, choice);
    }
    Fl_Tabs* Tabs(int id, int x, int y, int w, int h) {
        auto* tabs = new Fl_Tabs(x, y, w, h);
        tabs->labelsize(kFontSize);
        tabs->when(FL_WHEN_CHANGED);
        Bind(id, tabs);
        return tabs;
    }
    // A page of a tab control; its caption comes from the tab control's lines.
    Fl_Group* TabPage(Fl_Tabs* tabs) {
        auto* group = new Fl_Group(tabs->x(), tabs->y() + 24, tabs->w(), tabs->h() - 24);
        group->labelsize(kFontSize);
        return group;
    }

    void Finish(std::function<int()> result, std::function<void()> close) {
        window_.window_->end();
        window_.result_ = std::move(result);
        window_.close_ = std::move(close);
        window_.Sync();
    }

  private:
    Binding& Bind(int id, Fl_Widget* widget) {
        window_.bindings_.push_back(
            std::make_unique<Binding>(Binding{&window_, page_, id, widget, nullptr, {}}));
        Binding& b = *window_.bindings_.back();
        widget->callback(OnWidget, &b);
        return b;
    }

    DialogWindow& window_;
    ControlPage* page_ = nullptr;
};

DialogWindow::~DialogWindow() = default;

Fl_Widget* DialogWindow::Find(const ControlPage& page, int id) const {
    for (const auto& b : bindings_) {
        if (b->page == &page && b->id == id) return b->widget;
    }
    return nullptr;
}

void DialogWindow::Sync() {
    for (const auto& b : bindings_) SyncBinding(*b);
}

int DialogWindow::RunModal(HWND owner) {
    // Fl::awake from the acquisition thread needs FLTK's lock to exist; the
    // dialog's thread holds it except while it waits for events.
    Fl::lock();
    if (inbox_ != nullptr) inbox_->SetWake([] { Fl::awake(); });
    if (process_requests_) process_requests_();
    Sync();
    window_->set_modal();
    window_->show();
    // The owner is the host's X11 window (or one of the library's display
    // windows); message windows have nothing on the display to be above.
    if (const unsigned long owner_xid = platform::X11WindowOf(owner); owner_xid != 0) {
        Fl::flush();
        platform::SetTransientFor(fl_display, fl_xid(window_.get()), owner_xid);
    }
    while (window_->shown()) {
        Fl::wait(0.25);
        // A display that went away ends the dialog as its close box does.
        if (platform::X11ConnectionLost(fl_display) && result_() == 0) close_();
        if (process_requests_) process_requests_();
        Sync();
        if (result_() != 0) window_->hide();
    }
    if (inbox_ != nullptr) inbox_->SetWake(nullptr);
    Fl::unlock();
    return result_();
}

std::unique_ptr<DialogWindow> DialogWindow::ForCamera(CameraDialogModel& model) {
    std::unique_ptr<DialogWindow> window(new DialogWindow);
    Builder b(*window, 470, 372, "Camera");
    b.Page(model);
    Fl_Tabs* tabs = b.Tabs(kCameraTab, 8, 8, 454, 320);
    b.TabPage(tabs);
    const int x = 24;
    b.Text(x, 46, 150, kRowHeight, "Color / Compression(&C):");
    b.DropDown(kColorList, x + 156, 45, 260);
    b.Text(x, 78, 150, kRowHeight, "Size(&S):");
    b.DropDown(kSizeList, x + 156, 77, 260);
    b.Text(x, 110, 150, kRowHeight, "Sub Sample(&B):");
    b.DropDown(kSubSampleList, x + 156, 109, 260);

    b.Frame(x - 4, 146, 252, 128, "Camera Size");
    const char* rows[] = {"Total", "Effective", "Start"};
    for (int i = 0; i < 3; ++i) {
        const int y = 172 + i * 32;
        b.Text(x + 8, y, 80, kRowHeight, rows[i]);
        b.Edit(kTotalWidthEdit + 2 * i, x + 90, y, 66);
        b.Edit(kTotalHeightEdit + 2 * i, x + 164, y, 66);
    }
    b.Frame(x + 258, 146, 166, 128, "Frame Rate");
    b.Text(x + 268, 170, 150, kRowHeight, "Wait Time(&T):");
    b.Edit(kWaitTimeEdit, x + 268, 192, 80);
    b.Text(x + 268, 218, 150, kRowHeight, "Clock(&C):");
    b.DropDown(kClockList, x + 268, 240, 146);
    b.Text(x, 288, 420, kRowHeight,
           "* In the WORD forwarding mode, please set the clock to the half.");
    tabs->end();
    b.Button(kCameraOk, 222, 338, 76, "OK", true);
    b.Button(kCameraCancel, 304, 338, 76, "Cancel");
    b.Button(kCameraApply, 386, 338, 76, "Apply(&A)");
    b.Finish([&model] { return model.Result(); }, [&model] { model.Close(); });
    return window;
}

std::unique_ptr<DialogWindow> DialogWindow::ForAnalog(AnalogDialogModel& model) {
    std::unique_ptr<DialogWindow> window(new DialogWindow);
    Builder b(*window, 460, 322, "Property");
    b.Page(model.Frame());
    Fl_Tabs* tabs = b.Tabs(kFrameTab, 8, 8, 444, 272);
    b.TabPage(tabs);
    b.Page(model.Page());
    struct Row {
        int bar, edit, updown;
        const char* caption;
    };
    const Row rows[] = {
        {kGlobalGainBar, kGlobalGainEdit, kGlobalGainUpDown, "&Global Gain"},
        {kGainG1Bar, kGainG1Edit, kGainG1UpDown, "&Color Gain G1"},
        {kGainRBar, kGainREdit, kGainRUpDown, "&Color Gain R"},
        {kGainBBar, kGainBEdit, kGainBUpDown, "&Color Gain B"},
        {kGainG2Bar, kGainG2Edit, kGainG2UpDown, "&Color Gain G2"},
        {kExposureBar, kExposureEdit, kExposureUpDown, "&Exposure"},
    };
    for (int i = 0; i < 6; ++i) {
        b.Triple(rows[i].bar, rows[i].edit, rows[i].updown, rows[i].caption, 20, 42 + i * 28, 104,
                 200);
    }
    b.BoundText(kExposureTimeText, 20 + 104, 42 + 6 * 28, 200, kRowHeight);
    b.Frame(20, 228, 200, 44, "Auto Iris");
    b.Check(kAutoIrisGainBox, 30, 244, 80, "Gain");
    b.Check(kAutoIrisExposureBox, 120, 244, 90, "Exposure");
    b.Check(kMirrorVBox, 240, 244, 90, "Mirror V");
    b.Check(kMirrorHBox, 340, 244, 90, "Mirror H");
    tabs->end();
    b.Page(model.Frame());
    b.Button(kFrameOk, 212, 288, 76, "OK", true);
    b.Button(kFrameCancel, 294, 288, 76, "Cancel");
    b.Button(kFrameDefault, 376, 288, 76, "Default(&D)");
    window->inbox_ = &model.Inbox();
    window->process_requests_ = [&model] { model.ProcessRequests(); };
    b.Finish([&model] { return model.Result(); }, [&model] { model.Close(); });
    return window;
}

namespace {

void BayerButtons(Builder& b, int x, int y) {
    b.Frame(x, y, 110, 70, "Bayer Mode");
    for (int i = 0; i < 4; ++i)
        b.Radio(1030 + i, x + 20 + (i % 2) * 44, y + 18 + (i / 2) * 24, 24, nullptr);
}

void AutoButtons(Builder& b, int x, int y, const char* caption) {
    b.Frame(x, y, 110, 70, caption);
    b.Button(kOnceButton, x + 10, y + 18, 90, "Once");
    b.Check(kAllFramesBox, x + 10, y + 44, 96, "All frames");
}

}  // namespace

std::unique_ptr<DialogWindow> DialogWindow::ForImage(ImageDialogModel& model) {
    std::unique_ptr<DialogWindow> window(new DialogWindow);
    Builder b(*window, 560, 360, "Property");
    b.Page(model.Frame());
    Fl_Tabs* tabs = b.Tabs(kFrameTab, 8, 8, 544, 312);

    Fl_Group* image_page = b.TabPage(tabs);
    b.Page(model.Image());
    const char* captions[] = {"&Brightness", "&Contrast", "&Hue",    "&Saturation", "Shar&pness",
                              "&R Gain",     "&G Gain",   "&B Gain", "&Gamma"};
    for (size_t i = 0; i < kImageSettings.size(); ++i) {
        const FilterSetting& s = kImageSettings[i];
        b.Triple(s.bar, s.edit, s.updown, captions[i], 18, 40 + static_cast<int>(i) * 30, 84, 200);
    }
    AutoButtons(b, 420, 40, "Auto white balance");
    BayerButtons(b, 420, 120);
    image_page->end();

    if (model.HasGrayPage()) {
        Fl_Group* gray_page = b.TabPage(tabs);
        b.Page(model.Gray());
        const char* names[] = {"Red", "Green1", "Green2", "Blue"};
        for (int group = 0; group < 2; ++group) {
            const int y = 38 + group * 134;
            b.Frame(14, y, 396, 130, group == 0 ? "Gain" : "Offset");
            for (int i = 0; i < 4; ++i) {
                const FilterSetting& s = kGraySettings[group * 4 + i];
                b.Triple(s.bar, s.edit, s.updown, names[i], 22, y + 18 + i * 27, 60, 220);
            }
        }
        b.Frame(420, 38, 110, 94, "Filter mode");
        b.Radio(kGrayModeBayerRadio, 428, 56, 100, "Bayer");
        b.Radio(kGrayModeConvertRadio, 428, 80, 100, "Bayer convert");
        b.Radio(kGrayModeGrayscaleRadio, 428, 104, 100, "Grayscale");
        AutoButtons(b, 420, 140, "Auto Gain");
        BayerButtons(b, 420, 220);
        gray_page->end();
    }
    tabs->end();
    b.Page(model.Frame());
    b.Button(kFrameOk, 312, 326, 76, "OK", true);
    b.Button(kFrameCancel, 394, 326, 76, "Cancel");
    b.Button(kFrameDefault, 476, 326, 76, "Default(&D)");
    window->inbox_ = &model.Inbox();
    window->process_requests_ = [&model] { model.ProcessRequests(); };
    b.Finish([&model] { return model.Result(); }, [&model] { model.Close(); });
    return window;
}

}  // namespace vimbra::dialogs::views
