// The property dialogs on a session: the session's records, device and
// acquisition as the dialogs see them, and the three dialog calls.
#pragma once

#include <cstdint>

#include "VimbraSdk_740QX_RDL.h"
#include "dialogs/dialog_flow.h"
#include "dialogs/dialog_session.h"
#include "session/vimbra.h"

namespace vimbra {

class SessionDialogs final : public dialogs::DialogSession {
  public:
    explicit SessionDialogs(CVimbra& session) : s_(session) {}

    bool HasDevice() const override { return s_.HasDevice(); }
    void RecordError(int32_t code) override { s_.RecordError(code); }
    dialogs::OpenDialogs& Dialogs() override { return s_.open_dialogs_; }

    int32_t CameraNumber() const override { return s_.CameraNumber(); }
    void LoadCameraDialogSettings(CameraDialogSettings& settings) override;
    void SaveCameraDialogSettings(const CameraDialogSettings& settings) override;
    void PauseAcquisition() override;
    void ResumeAcquisition(bool reload_format) override;

    void ReadAnalogFromCamera() override;
    AnalogRecord Analog() const override { return s_.Analog(); }
    void SetAnalog(const AnalogRecord& analog) override;
    void SetAnalogField(int32_t AnalogRecord::*field, int32_t value) override;
    dialogs::AnalogLimits Limits() const override;
    dialogs::ExposureTiming Timing() const override;
    void WriteGlobalGain(int32_t gain) override;
    void WriteColorGain(dialogs::ColorGainRegister reg, int32_t gain) override;
    void WriteExposure(int32_t rows) override;
    void WriteMirrorV(int32_t on) override;
    void WriteMirrorH(int32_t on) override;

    int32_t ColorModeIndex() const override { return s_.ColorModeIndex(); }
    FilterRecord Filter() const override { return s_.Filter(); }
    void SetFilter(const FilterRecord& filter) override;
    int32_t FilterField(int slot) const override;
    void SetFilterField(int slot, int32_t value) override;

  private:
    CVimbra& s_;
    AcqState paused_ = AcqState::kIdle;
};

// Vimbra_SetCameraDlg, Vimbra_SetAnalogDlg and Vimbra_SetImageDlg: the dialog
// on the display of this machine, owned by `parent`.
int32_t SetCameraDlg(CVimbra& session, HWND parent);
int32_t SetAnalogDlg(CVimbra& session, HWND parent);
int32_t SetImageDlg(CVimbra& session, HWND parent);

}  // namespace vimbra
