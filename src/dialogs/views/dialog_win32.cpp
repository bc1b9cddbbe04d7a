// The property dialogs on Windows. Frames and pages are made from the DLL's
// dialog templates; every control is bound by its id to the control of the
// same id in a model page. The controls' notifications reach the model as the
// user's actions, and after each one the controls are brought in line with
// the model, which is the only keeper of the dialog's state.
#include <windows.h>
// <windows.h> first: the common controls' header builds on it.
#include <commctrl.h>

#include <functional>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "dialogs/views/dialog_resources.h"
#include "dialogs/views/system_display.h"

namespace vimbra::dialogs::views {
namespace {

constexpr char kModuleName[] = "VimbraSdk_740QX_RDL.dll";
// Posted to a frame when the acquisition thread left requests in its inbox.
constexpr UINT kTakeRequests = WM_APP + 0x100;
// Where a page sits in its tab control, in pixels.
constexpr int kPageLeft = 30;
constexpr int kPageTop = 25;

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                          nullptr, nullptr);
    return utf8;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The module that holds the templates: the DLL, or the program the dialogs
// were linked into.
HMODULE TemplateModule() {
    if (HMODULE dll = ::GetModuleHandleA(kModuleName)) return dll;
    HMODULE self = nullptr;
    ::GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&TemplateModule), &self);
    return self;
}

// The brush that paints the owner-drawn tabs, for one dialog.
class TabBrush {
  public:
    TabBrush() : brush_(::CreateSolidBrush(::GetSysColor(COLOR_BTNFACE))) {}
    ~TabBrush() {
        if (brush_ != nullptr) ::DeleteObject(brush_);
    }
    TabBrush(const TabBrush&) = delete;
    TabBrush& operator=(const TabBrush&) = delete;
    HBRUSH get() const { return brush_; }

  private:
    HBRUSH brush_;
};

// What a view needs of one dialog model.
struct DialogParts {
    ControlPage* frame;  // controls of the frame window
    int frame_template;
    struct Page {
        ControlPage* page;
        int template_id;
    };
    std::vector<Page> pages;  // made as children of the frame's tab control
    std::function<int()> result;
    std::function<void()> close;    // the close box: ends the model as Cancel
    RequestInbox* inbox = nullptr;  // acquisition-thread requests, if any
    std::function<void()> process_requests;
};

class OpenDialog;

// One dialog window (the frame or a page) and the model page it shows.
struct Surface {
    OpenDialog* dialog;
    ControlPage* page;
    int template_id;
    HWND window = nullptr;
    // The lines each list or tab control shows, so they are rewritten only
    // when the model's lines change.
    std::map<int, std::vector<std::string>> shown_items;
};

class OpenDialog {
  public:
    explicit OpenDialog(DialogParts parts) : parts_(std::move(parts)) {
        frame_ = Surface{this, parts_.frame, parts_.frame_template, nullptr, {}};
        for (const DialogParts::Page& p : parts_.pages) {
            pages_.push_back(Surface{this, p.page, p.template_id, nullptr, {}});
        }
    }

    // Runs the dialog modally on the calling thread; the model's result, or
    // kResultNotShown when the frame or a page could not be made.
    int Run(HWND owner) {
        ::DialogBoxParamA(TemplateModule(), MAKEINTRESOURCEA(parts_.frame_template), owner,
                          &OpenDialog::FrameProc, reinterpret_cast<LPARAM>(this));
        if (parts_.inbox != nullptr) parts_.inbox->SetWake(nullptr);
        if (parts_.result() != 0) return parts_.result();
        if (!shown_) return kResultNotShown;
        // Destroyed without an answer (its owner went away): as Cancel.
        parts_.close();
        return parts_.result();
    }

  private:
    static INT_PTR CALLBACK FrameProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_INITDIALOG) {
            auto* dialog = reinterpret_cast<OpenDialog*>(lp);
            ::SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(&dialog->frame_));
            return dialog->InitFrame(window);
        }
        auto* surface = reinterpret_cast<Surface*>(::GetWindowLongPtrA(window, DWLP_USER));
        return surface != nullptr ? surface->dialog->OnFrameMessage(*surface, msg, wp, lp) : FALSE;
    }

    static INT_PTR CALLBACK PageProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_INITDIALOG) {
            auto* surface = reinterpret_cast<Surface*>(lp);
            surface->window = window;
            ::SetWindowLongPtrA(window, DWLP_USER, lp);
            return FALSE;  // the frame sets the focus
        }
        auto* surface = reinterpret_cast<Surface*>(::GetWindowLongPtrA(window, DWLP_USER));
        return surface != nullptr ? surface->dialog->OnControlMessage(*surface, msg, wp, lp)
                                  : FALSE;
    }

    BOOL InitFrame(HWND window) {
        frame_.window = window;
        HWND tab = ::GetDlgItem(window, kFrameTab);
        if (!pages_.empty()) {
            if (tab == nullptr) return Fail(window);
            // Keyboard navigation goes on into the pages inside the tab control.
            ::SetWindowLongPtrA(tab, GWL_EXSTYLE,
                                ::GetWindowLongPtrA(tab, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
        }
        for (Surface& page : pages_) {
            if (::CreateDialogParamA(TemplateModule(), MAKEINTRESOURCEA(page.template_id), tab,
                                     &OpenDialog::PageProc,
                                     reinterpret_cast<LPARAM>(&page)) == nullptr) {
                return Fail(window);
            }
            ::SetWindowPos(page.window, nullptr, kPageLeft, kPageTop, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        shown_ = true;
        if (parts_.inbox != nullptr) {
            parts_.inbox->SetWake([window] { ::PostMessageA(window, kTakeRequests, 0, 0); });
        }
        if (parts_.process_requests) parts_.process_requests();
        Sync();
        return TRUE;
    }

    BOOL Fail(HWND window) {
        ::EndDialog(window, 0);
        return TRUE;
    }

    INT_PTR OnFrameMessage(Surface& frame, UINT msg, WPARAM wp, LPARAM lp) {
        switch (msg) {
            case WM_DRAWITEM: {
                const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
                if (item->CtlType != ODT_TAB) return FALSE;
                DrawTab(*item);
                return TRUE;
            }
            case WM_CLOSE:
                parts_.close();
                AfterAction();
                return TRUE;
            case kTakeRequests:
                if (parts_.process_requests) parts_.process_requests();
                Sync();
                return TRUE;
            case WM_DESTROY:
                if (parts_.inbox != nullptr) parts_.inbox->SetWake(nullptr);
                return FALSE;
            default:
                return OnControlMessage(frame, msg, wp, lp);
        }
    }

    // The notifications of the controls on one surface, handed to its model
    // page by control id.
    INT_PTR OnControlMessage(Surface& s, UINT msg, WPARAM wp, LPARAM lp) {
        switch (msg) {
            case WM_COMMAND: {
                const int id = LOWORD(wp);
                const UINT code = HIWORD(wp);
                if (!s.page->Has(id)) return FALSE;
                if (Quiet()) return TRUE;
                HWND control = ::GetDlgItem(s.window, id);
                switch (s.page->At(id).kind) {
                    case ControlKind::kEdit:
                        if (code != EN_CHANGE) return FALSE;
                        s.page->TypeText(id, Narrow(WindowText(control)));
                        break;
                    case ControlKind::kButton:
                    case ControlKind::kCheckBox:
                    case ControlKind::kRadio:
                        if (code != BN_CLICKED) return FALSE;
                        s.page->Click(id);
                        break;
                    case ControlKind::kDropDown:
                        if (code != CBN_SELCHANGE) return FALSE;
                        s.page->Choose(
                            id, static_cast<int>(::SendMessageW(control, CB_GETCURSEL, 0, 0)));
                        break;
                    default:
                        return FALSE;
                }
                AfterAction();
                return TRUE;
            }
            case WM_HSCROLL: {
                HWND control = reinterpret_cast<HWND>(lp);
                const int id = control != nullptr ? ::GetDlgCtrlID(control) : 0;
                if (!s.page->Has(id) || s.page->At(id).kind != ControlKind::kTrackbar) return FALSE;
                if (Quiet()) return TRUE;
                s.page->MoveTrackbar(
                    id, static_cast<int32_t>(::SendMessageW(control, TBM_GETPOS, 0, 0)));
                AfterAction();
                return TRUE;
            }
            case WM_NOTIFY: {
                const auto* header = reinterpret_cast<const NMHDR*>(lp);
                const int id = static_cast<int>(header->idFrom);
                if (!s.page->Has(id)) return FALSE;
                const ControlKind kind = s.page->At(id).kind;
                if (header->code == UDN_DELTAPOS && kind == ControlKind::kUpDown) {
                    // The model steps the buddy edit; the control must not.
                    if (!Quiet()) {
                        s.page->StepUpDown(id, reinterpret_cast<const NMUPDOWN*>(lp)->iDelta);
                        AfterAction();
                    }
                    ::SetWindowLongPtrA(s.window, DWLP_MSGRESULT, TRUE);
                    return TRUE;
                }
                if (header->code == TCN_SELCHANGE && kind == ControlKind::kTab) {
                    if (Quiet()) return TRUE;
                    s.page->Choose(id, static_cast<int>(
                                           ::SendMessageW(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
                    AfterAction();
                    return TRUE;
                }
                return FALSE;
            }
            default:
                return FALSE;
        }
    }

    // Notifications that the view's own updates cause, and any after the
    // dialog has its answer, are not the user's.
    bool Quiet() const { return syncing_ || parts_.result() != 0; }

    void AfterAction() {
        Sync();
        if (parts_.result() != 0) ::EndDialog(frame_.window, parts_.result());
    }

    void DrawTab(const DRAWITEMSTRUCT& item) {
        ::FillRect(item.hDC, &item.rcItem, tab_brush_.get());
        ::SetBkColor(item.hDC, ::GetSysColor(COLOR_BTNFACE));
        const std::vector<std::string>& captions = parts_.frame->At(kFrameTab).items;
        if (item.itemID >= captions.size()) return;
        const std::wstring caption = Widen(captions[item.itemID]);
        RECT area = item.rcItem;
        ::DrawTextW(item.hDC, caption.c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }

    // Brings every control, and the pages' visibility, in line with the model.
    void Sync() {
        syncing_ = true;
        SyncSurface(frame_);
        for (Surface& page : pages_) {
            SyncSurface(page);
            const bool shown = (::GetWindowLongPtrA(page.window, GWL_STYLE) & WS_VISIBLE) != 0;
            if (shown != page.page->Visible()) {
                ::ShowWindow(page.window, page.page->Visible() ? SW_SHOWNA : SW_HIDE);
            }
        }
        syncing_ = false;
    }

    static void SyncSurface(Surface& s) {
        // Edits last: an up-down control given its buddy may rewrite the
        // buddy's text.
        for (const bool edits : {false, true}) {
            for (const auto& [id, control] : s.page->Controls()) {
                if ((control.kind == ControlKind::kEdit) != edits) continue;
                if (HWND window = ::GetDlgItem(s.window, id)) SyncControl(s, id, control, window);
            }
        }
    }

    static void SetText(HWND window, const std::string& text) {
        const std::wstring wide = Widen(text);
        if (WindowText(window) != wide) ::SetWindowTextW(window, wide.c_str());
    }

    static void SyncControl(Surface& s, int id, const Control& c, HWND w) {
        if ((::IsWindowEnabled(w) != FALSE) != c.enabled) ::EnableWindow(w, c.enabled);
        switch (c.kind) {
            case ControlKind::kEdit: {
                const bool read_only = (::GetWindowLongPtrA(w, GWL_STYLE) & ES_READONLY) != 0;
                if (read_only != c.read_only) ::SendMessageW(w, EM_SETREADONLY, c.read_only, 0);
                SetText(w, c.text);
                break;
            }
            case ControlKind::kText:
                SetText(w, c.text);
                break;
            case ControlKind::kTrackbar:
                if (::SendMessageW(w, TBM_GETRANGEMIN, 0, 0) != c.min ||
                    ::SendMessageW(w, TBM_GETRANGEMAX, 0, 0) != c.max) {
                    ::SendMessageW(w, TBM_SETRANGEMAX, TRUE, c.max);
                    ::SendMessageW(w, TBM_SETRANGEMIN, TRUE, c.min);
                    ::SendMessageW(w, TBM_SETTICFREQ, static_cast<WPARAM>(c.tick_frequency), 0);
                }
                if (::SendMessageW(w, TBM_GETPOS, 0, 0) != c.position) {
                    ::SendMessageW(w, TBM_SETPOS, TRUE, c.position);
                }
                break;
            case ControlKind::kUpDown: {
                INT low = 0, high = 0;
                ::SendMessageW(w, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                               reinterpret_cast<LPARAM>(&high));
                if (low != c.min || high != c.max) ::SendMessageW(w, UDM_SETRANGE32, c.min, c.max);
                HWND buddy = c.buddy != 0 ? ::GetDlgItem(s.window, c.buddy) : nullptr;
                if (reinterpret_cast<HWND>(::SendMessageW(w, UDM_GETBUDDY, 0, 0)) != buddy) {
                    ::SendMessageW(w, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0);
                }
                break;
            }
            case ControlKind::kCheckBox:
            case ControlKind::kRadio:
                if ((::SendMessageW(w, BM_GETCHECK, 0, 0) == BST_CHECKED) != c.checked) {
                    ::SendMessageW(w, BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
                }
                break;
            case ControlKind::kDropDown:
                if (s.shown_items[id] != c.items) {
                    ::SendMessageW(w, CB_RESETCONTENT, 0, 0);
                    for (size_t i = 0; i < c.items.size(); ++i) {
                        const std::wstring line = Widen(c.items[i]);
                        ::SendMessageW(w, CB_INSERTSTRING, i,
                                       reinterpret_cast<LPARAM>(line.c_str()));
                    }
                    s.shown_items[id] = c.items;
                }
                if (::SendMessageW(w, CB_GETCURSEL, 0, 0) != c.selection) {
                    ::SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(c.selection), 0);
                }
                break;
            case ControlKind::kTab:
                if (s.shown_items[id] != c.items) {
                    ::SendMessageW(w, TCM_DELETEALLITEMS, 0, 0);
                    for (size_t i = 0; i < c.items.size(); ++i) {
                        std::wstring caption = Widen(c.items[i]);
                        TCITEMW item{};
                        item.mask = TCIF_TEXT;
                        item.pszText = caption.data();
                        ::SendMessageW(w, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
                    }
                    s.shown_items[id] = c.items;
                }
                if (c.selection >= 0 && ::SendMessageW(w, TCM_GETCURSEL, 0, 0) != c.selection) {
                    ::SendMessageW(w, TCM_SETCURSEL, static_cast<WPARAM>(c.selection), 0);
                }
                break;
            case ControlKind::kButton:
                break;
        }
    }

    DialogParts parts_;
    Surface frame_{};
    std::list<Surface> pages_;  // the windows keep pointers to their surfaces
    TabBrush tab_brush_;
    bool syncing_ = false;
    bool shown_ = false;  // the frame and all its pages were made
};

bool Japanese(Language language) {
    return language == Language::kJapanese;
}

class Win32Display final : public DialogDisplay {
  public:
    bool Available() override {
        static const bool controls = [] {
            INITCOMMONCONTROLSEX classes{sizeof classes, ICC_TAB_CLASSES | ICC_BAR_CLASSES |
                                                             ICC_UPDOWN_CLASS |
                                                             ICC_STANDARD_CLASSES};
            return ::InitCommonControlsEx(&classes) != FALSE;
        }();
        return controls && ::FindResourceA(TemplateModule(), MAKEINTRESOURCEA(VIMBRA_DLG_CAMERA_EN),
                                           RT_DIALOG) != nullptr;
    }

    int Run(CameraDialogModel& model, HWND owner) override {
        const bool ja = Japanese(model.Lang());
        OpenDialog dialog({&model,
                           ja ? VIMBRA_DLG_CAMERA_JA : VIMBRA_DLG_CAMERA_EN,
                           {},
                           [&model] { return model.Result(); },
                           [&model] { model.Close(); },
                           nullptr,
                           {}});
        return dialog.Run(owner);
    }

    int Run(AnalogDialogModel& model, HWND owner) override {
        const bool ja = Japanese(UserLanguage());
        OpenDialog dialog(
            {&model.Frame(),
             ja ? VIMBRA_DLG_ANALOG_FRAME_JA : VIMBRA_DLG_ANALOG_FRAME_EN,
             {{&model.Page(), ja ? VIMBRA_DLG_ANALOG_PAGE_JA : VIMBRA_DLG_ANALOG_PAGE_EN}},
             [&model] { return model.Result(); },
             [&model] { model.Close(); },
             &model.Inbox(),
             [&model] { model.ProcessRequests(); }});
        return dialog.Run(owner);
    }

    int Run(ImageDialogModel& model, HWND owner) override {
        const bool ja = Japanese(UserLanguage());
        std::vector<DialogParts::Page> pages = {
            {&model.Image(), ja ? VIMBRA_DLG_IMAGE_PAGE_JA : VIMBRA_DLG_IMAGE_PAGE_EN}};
        if (model.HasGrayPage()) {
            pages.push_back(
                {&model.Gray(), ja ? VIMBRA_DLG_GRAY_PAGE_JA : VIMBRA_DLG_GRAY_PAGE_EN});
        }
        OpenDialog dialog(
            {&model.Frame(), ja ? VIMBRA_DLG_IMAGE_FRAME_JA : VIMBRA_DLG_IMAGE_FRAME_EN,
             std::move(pages), [&model] { return model.Result(); }, [&model] { model.Close(); },
             &model.Inbox(), [&model] { model.ProcessRequests(); }});
        return dialog.Run(owner);
    }
};

}  // namespace

DialogDisplay& SystemDisplay() {
    static Win32Display display;
    return display;
}

}  // namespace vimbra::dialogs::views
