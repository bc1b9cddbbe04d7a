#include "sim/virtual_driver.h"

#include "sim/file_io.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace vimbra::sim {
namespace {

uint32_t Le32(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    const size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep)) parts.push_back(Trim(part));
    return parts;
}

bool ParseModel(const std::string& text, CameraModel* model) {
    const std::string m = Lower(text);
    if (m == "color" || m == "colour") {
        *model = CameraModel::kColor;
    } else if (m == "mono" || m == "740qx-bw") {
        *model = CameraModel::kMono740;
    } else if (m == "2250kt-bw") {
        *model = CameraModel::kMono2250;
    } else {
        return false;
    }
    return true;
}

bool ParseInt(const std::string& text, long min, long max, long* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || v < min || v > max) return false;
    *out = v;
    return true;
}

// Reads a configuration file: a regular file of at most kMaxConfigBytes, opened
// without waiting so that a FIFO or a device is refused rather than hung on.
constexpr off_t kMaxConfigBytes = 64 * 1024;

bool ReadConfigFile(const char* path, std::string* text, std::string* why) {
    const int fd = ::open(path, kOpenReadOnly);
    if (fd < 0) {
        *why = std::string("cannot open (") + std::strerror(errno) + ")";
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxConfigBytes;
    if (!ok) {
        *why = "not a regular file of at most 64 KiB";
    } else {
        text->resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < text->size()) {
            const auto n = ::read(fd, text->data() + got, text->size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        text->resize(got);
    }
    ::close(fd);
    return ok;
}

class VirtualFile final : public platform::DriverFile {
  public:
    VirtualFile(VirtualDriver* driver, int slot, std::shared_ptr<VirtualCamera> camera)
        : driver_(driver), slot_(slot), camera_(std::move(camera)) {}
    ~VirtualFile() override { driver_->HandleClosed(slot_); }

    bool Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                 uint32_t* transferred) override {
        LoggedRequest r;
        r.slot = slot_;
        r.code = code;
        uint32_t moved = 0;
        bool ok = false;
        if (code == platform::kIoctlTransferWait) {
            r.size = in_size;
            if (in) {
                r.data_size = std::min<uint32_t>(in_size, 64);
                std::memcpy(r.data.data(), in, r.data_size);
            }
            if (in && in_size == platform::kTransferWaitBlockSize && Le32(in) == 1) {
                camera_->SetTransferWait(static_cast<int32_t>(
                    Le32(static_cast<const uint8_t*>(in) + platform::kTransferWaitMsOffset)));
                ok = true;
            }
        } else if (code == platform::kIoctlDirectOut || code == platform::kIoctlDirectIn ||
                   code == platform::kIoctlLargeIn) {
            if (in && in_size == 4 && out) {
                r.pipe = Le32(in);
                r.size = out_size;
                auto* bytes = static_cast<uint8_t*>(out);
                // Data moves in the pipe's direction whatever the code.
                switch (r.pipe) {
                    case platform::kPipeCommand:
                        r.data_size = std::min<uint32_t>(out_size, 64);
                        std::memcpy(r.data.data(), bytes, r.data_size);
                        ok = camera_->Command(bytes, out_size, &moved);
                        break;
                    case platform::kPipeReply:
                        ok = camera_->Reply(bytes, out_size, &moved);
                        break;
                    case platform::kPipeFrame:
                        // The ordinary request cannot carry a large frame.
                        if (code != platform::kIoctlDirectIn ||
                            out_size < platform::kLargeTransferBytes)
                            ok = camera_->Frame(bytes, out_size, &moved);
                        break;
                    default:
                        break;
                }
            }
        }
        r.ok = ok;
        r.transferred = moved;
        driver_->Record(r);
        if (transferred) *transferred = moved;
        return ok;
    }

  private:
    VirtualDriver* driver_;
    int slot_;
    std::shared_ptr<VirtualCamera> camera_;
};

}  // namespace

VirtualDriver::VirtualDriver() = default;

VirtualDriver::~VirtualDriver() {
    UnplugAll();
}

int VirtualDriver::SlotOfPath(const char* path) {
    static constexpr char kDevicePrefix[] = "\\\\.\\";
    if (!path || std::strncmp(path, kDevicePrefix, sizeof kDevicePrefix - 1) != 0) return -1;
    const char* name = path + sizeof kDevicePrefix - 1;
    const size_t base = sizeof kDriverBaseName - 1;
    if (std::strncmp(name, kDriverBaseName, base) != 0 || name[base] != '-') return -1;
    const char c = name[base + 1];
    if (c == '\0' || name[base + 2] != '\0') return -1;
    const char* at = std::strchr(kDeviceIndexAlphabet, c);
    return at ? static_cast<int>(at - kDeviceIndexAlphabet) : -1;
}

std::unique_ptr<platform::DriverFile> VirtualDriver::Open(const char* path) {
    const int slot = SlotOfPath(path);
    std::shared_ptr<VirtualCamera> camera;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (slot >= 0) {
            if (refuse_opens_[slot] != 0) {
                if (refuse_opens_[slot] > 0) --refuse_opens_[slot];
            } else {
                camera = cameras_[slot];
            }
        }
        if (camera) ++open_handles_[slot];
    }
    LoggedRequest r;
    r.kind = LoggedRequest::Kind::kOpen;
    r.slot = slot;
    r.ok = camera != nullptr;
    Record(r);
    if (!camera) return nullptr;
    return std::make_unique<VirtualFile>(this, slot, std::move(camera));
}

void VirtualDriver::HandleClosed(int slot) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --open_handles_[slot];
    }
    LoggedRequest r;
    r.kind = LoggedRequest::Kind::kClose;
    r.slot = slot;
    r.ok = true;
    Record(r);
}

void VirtualDriver::Record(const LoggedRequest& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (logging_ && log_.size() < kMaxLogEntries) log_.push_back(request);
}

void VirtualDriver::Plug(int slot, CameraModel model) {
    if (slot < 0 || slot >= kSlots) return;
    auto camera = std::make_shared<VirtualCamera>(model, slot);
    std::shared_ptr<VirtualCamera> old;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        camera->SetTiming(timing_);
        camera->SetStill(still_);
        camera->SetAutoTrigger(auto_trigger_ms_);
        old = std::move(cameras_[slot]);
        cameras_[slot] = std::move(camera);
    }
    if (old) old->Unplug();
}

void VirtualDriver::Unplug(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    std::shared_ptr<VirtualCamera> old;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        old = std::move(cameras_[slot]);
    }
    if (old) old->Unplug();
}

void VirtualDriver::UnplugAll() {
    for (int i = 0; i < kSlots; ++i) Unplug(i);
}

std::shared_ptr<VirtualCamera> VirtualDriver::Camera(int slot) const {
    if (slot < 0 || slot >= kSlots) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    return cameras_[slot];
}

void VirtualDriver::SetTiming(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    timing_ = on;
    for (auto& camera : cameras_)
        if (camera) camera->SetTiming(on);
}

void VirtualDriver::SetStill(bool still) {
    std::lock_guard<std::mutex> lock(mutex_);
    still_ = still;
    for (auto& camera : cameras_)
        if (camera) camera->SetStill(still);
}

void VirtualDriver::SetAutoTrigger(uint32_t interval_ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto_trigger_ms_ = interval_ms;
    for (auto& camera : cameras_)
        if (camera) camera->SetAutoTrigger(interval_ms);
}

void VirtualDriver::FireTrigger(int slot) {
    if (auto camera = Camera(slot)) camera->FireTrigger();
}

void VirtualDriver::FailNextTransfers(int slot, int count, int pipe) {
    if (auto camera = Camera(slot)) camera->FailNext(pipe, count);
}

void VirtualDriver::ShortNextTransfers(int slot, int count) {
    if (auto camera = Camera(slot)) camera->ShortNext(count);
}

void VirtualDriver::StallNextFrame(int slot, uint32_t ms) {
    if (auto camera = Camera(slot)) camera->StallNext(ms);
}

void VirtualDriver::RefuseOpens(int slot, int count) {
    if (slot < 0 || slot >= kSlots) return;
    std::lock_guard<std::mutex> lock(mutex_);
    refuse_opens_[slot] = count;
}

void VirtualDriver::SetPlayback(int slot, Playback playback) {
    if (auto camera = Camera(slot)) camera->SetPlayback(std::move(playback));
}

bool VirtualDriver::LoadPlayback(int slot, int width, int height, int bits,
                                 const std::vector<std::string>& files, std::string* error) {
    std::string ignored;
    std::string& why = error ? *error : ignored;
    // Frames larger than the sensor could not be shown whole anyway.
    if (width <= 0 || height <= 0 || width > kSensorWidth || height > kSensorHeight ||
        (bits != 8 && bits != 16) || files.empty()) {
        why = "frames of 1..2592 x 1..1944 samples of 8 or 16 bits from at least one file";
        return false;
    }
    Playback playback;
    playback.width = width;
    playback.height = height;
    playback.bits = bits;
    const size_t packed_row = static_cast<size_t>(width) * (bits / 8);
    for (const std::string& name : files) {
        std::shared_ptr<const PlaybackFile> file =
            PlaybackFile::Open(name, packed_row, height, &why);
        if (!file) return false;
        playback.files.push_back(std::move(file));
    }
    if (!Camera(slot)) {
        why = "no camera in slot " + std::to_string(slot);
        return false;
    }
    SetPlayback(slot, std::move(playback));
    return true;
}

void VirtualDriver::SetLogging(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    logging_ = on;
}

std::vector<LoggedRequest> VirtualDriver::Log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

void VirtualDriver::ClearLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
}

std::vector<std::array<uint8_t, 64>> VirtualDriver::Commands(int slot) const {
    std::vector<std::array<uint8_t, 64>> blocks;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const LoggedRequest& r : log_)
        if (r.kind == LoggedRequest::Kind::kControl && r.slot == slot &&
            r.code != platform::kIoctlTransferWait && r.pipe == platform::kPipeCommand)
            blocks.push_back(r.data);
    return blocks;
}

int VirtualDriver::OpenHandles(int slot) const {
    if (slot < 0 || slot >= kSlots) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    return open_handles_[slot];
}

std::string VirtualDriver::Setting(const std::string& key) const {
    const std::string k = Lower(Trim(key));
    std::lock_guard<std::mutex> lock(mutex_);
    if (k == "cameras") {
        std::string list;
        for (int slot = 0; slot < kSlots; ++slot) {
            if (!cameras_[slot]) continue;
            static constexpr const char* kModelNames[] = {"color", "740QX-BW", "2250KT-BW"};
            if (!list.empty()) list += ',';
            list +=
                std::to_string(slot) + ':' + kModelNames[static_cast<int>(cameras_[slot]->model())];
        }
        return list.empty() ? "none" : list;
    }
    if (k == "timing") return timing_ ? "1" : "0";
    if (k == "still") return still_ ? "1" : "0";
    if (k == "trigger_ms") return std::to_string(auto_trigger_ms_);
    return "";
}

std::string VirtualDriver::Kept(const std::string& key) const {
    const std::string k = Lower(Trim(key));
    if (k == "playback") return "the cameras keep the frames they had";
    const std::string value = Setting(k);
    return value.empty() ? "ignored" : "keeping " + k + "=" + value;
}

bool VirtualDriver::Configure(const std::string& key, const std::string& value,
                              std::string* error) {
    std::string ignored;
    std::string& why = error ? *error : ignored;
    const std::string k = Lower(Trim(key));
    const std::string v = Trim(value);
    long n = 0;
    if (k == "cameras") {
        std::vector<std::pair<int, CameraModel>> plan;
        if (Lower(v) != "none" && !v.empty()) {
            for (const std::string& entry : Split(v, ',')) {
                const size_t colon = entry.find(':');
                CameraModel model = CameraModel::kColor;
                const std::string slot = Trim(entry.substr(0, colon));
                if (!ParseInt(slot, 0, kSlots - 1, &n)) {
                    why = "slot \"" + slot + "\" is not a number in 0..31";
                    return false;
                }
                const std::string name = colon == std::string::npos ? "" : entry.substr(colon + 1);
                if (colon != std::string::npos && !ParseModel(Trim(name), &model)) {
                    why = "model \"" + Trim(name) + "\" is not color, mono, 740QX-BW or 2250KT-BW";
                    return false;
                }
                plan.emplace_back(static_cast<int>(n), model);
            }
        }
        UnplugAll();
        for (const auto& [slot, model] : plan) Plug(slot, model);
        return true;
    }
    if (k == "timing" || k == "still") {
        if (!ParseInt(v, 0, 1, &n)) {
            why = "\"" + v + "\" is not 0 or 1";
            return false;
        }
        if (k == "timing")
            SetTiming(n != 0);
        else
            SetStill(n != 0);
        return true;
    }
    if (k == "trigger_ms") {
        if (!ParseInt(v, 0, 3600000, &n)) {
            why = "\"" + v + "\" is not a number of milliseconds in 0..3600000";
            return false;
        }
        SetAutoTrigger(static_cast<uint32_t>(n));
        return true;
    }
    if (k == "playback") {
        // <slot>:<width>x<height>x<bits>:<file>[:<file>...]
        const std::vector<std::string> parts = Split(v, ':');
        if (parts.size() < 3 || !ParseInt(parts[0], 0, kSlots - 1, &n)) {
            why = "\"" + v + "\" is not slot:WIDTHxHEIGHTxBITS:file with a slot in 0..31";
            return false;
        }
        const std::vector<std::string> dims = Split(parts[1], 'x');
        long w = 0, h = 0, bits = 0;
        if (dims.size() != 3 || !ParseInt(dims[0], 1, 65535, &w) ||
            !ParseInt(dims[1], 1, 65535, &h) || !ParseInt(dims[2], 8, 16, &bits)) {
            why = "\"" + parts[1] + "\" is not WIDTHxHEIGHTxBITS (1..65535, 8 or 16 bits)";
            return false;
        }
        return LoadPlayback(static_cast<int>(n), static_cast<int>(w), static_cast<int>(h),
                            static_cast<int>(bits),
                            std::vector<std::string>(parts.begin() + 2, parts.end()), &why);
    }
    why = "unknown setting (cameras, timing, still, trigger_ms, playback)";
    return false;
}

void VirtualDriver::ConfigureFromText(std::string_view text, const std::string& origin,
                                      std::vector<std::string>* problems) {
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string line = Trim(std::string(text.substr(0, end)));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (line.empty() || line[0] == '#') continue;
        const std::string where = origin + " line " + std::to_string(number);
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            if (problems) problems->push_back(where + ": no key=value; ignored");
            continue;
        }
        std::string why;
        if (!Configure(line.substr(0, eq), line.substr(eq + 1), &why) && problems) {
            const std::string key = Trim(line.substr(0, eq));
            problems->push_back(where + ": " + key + ": " + why + "; " + Kept(key));
        }
    }
}

void VirtualDriver::ConfigureFromEnvironment() {
    std::vector<std::string> problems;
    if (const char* file = std::getenv("VIMBRA_SIM_CONFIG")) {
        std::string text, why;
        if (ReadConfigFile(file, &text, &why))
            ConfigureFromText(text, file, &problems);
        else
            problems.push_back(std::string("VIMBRA_SIM_CONFIG=\"") + file + "\": " + why +
                               "; using the variables and defaults");
    }
    static constexpr const char* kKeys[][2] = {{"VIMBRA_SIM_CAMERAS", "cameras"},
                                               {"VIMBRA_SIM_TIMING", "timing"},
                                               {"VIMBRA_SIM_STILL", "still"},
                                               {"VIMBRA_SIM_TRIGGER_MS", "trigger_ms"},
                                               {"VIMBRA_SIM_PLAYBACK", "playback"}};
    for (const auto& key : kKeys) {
        const char* value = std::getenv(key[0]);
        std::string why;
        if (value && !Configure(key[1], value, &why))
            problems.push_back(std::string(key[0]) + "=\"" + value + "\": " + why + "; " +
                               Kept(key[1]));
    }
    for (const std::string& problem : problems)
        std::fprintf(stderr, "vimbra virtual camera: %s\n", problem.c_str());
}

VirtualDriver& DefaultVirtualDriver() {
    static VirtualDriver* driver = [] {
        // Kept for the life of the process: device objects may outlive any
        // static destruction order.
        auto* d = new VirtualDriver;
        d->Plug(0, CameraModel::kColor);
        d->ConfigureFromEnvironment();
        return d;
    }();
    return *driver;
}

void InstallVirtualDriver() {
    platform::RegisterVirtualBackend(
        []() -> platform::DriverBackend* { return &DefaultVirtualDriver(); });
}

}  // namespace vimbra::sim
