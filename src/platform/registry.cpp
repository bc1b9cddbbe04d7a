// The registry on a .reg file for systems other than Windows.
#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace vimbra::platform {

struct RegKeyObject {
    RegPath path;  // root name first
    bool writable = false;
};

namespace {

constexpr char16_t kCurrentUserRoot[] = u"HKEY_CURRENT_USER";

RegKeyObject g_current_user{RegPath{kCurrentUserRoot}, true};

// What identifies one version of the file: every save makes a new inode.
struct FileIdentity {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtime_sec = 0;
    int64_t mtime_nsec = 0;

    static FileIdentity Of(const struct stat& st) {
        return FileIdentity{true,       st.st_dev,         st.st_ino,
                            st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    }
    bool operator==(const FileIdentity&) const = default;
};

enum class ReadResult { kOk, kMissing, kError };

ReadResult ReadWholeFile(const std::string& path, std::string* bytes, FileIdentity* id) {
    bytes->clear();
    *id = FileIdentity{};
    // Without blocking: a pipe at the path would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kError;
    struct stat st;
    // Only a regular file holds settings; a pipe or a device is not read
    // (nor replaced by a save).
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::kError;
    }
    *id = FileIdentity::Of(st);
    char buf[16384];
    while (true) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return ReadResult::kError;
        }
        if (n == 0) break;
        bytes->append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return ReadResult::kOk;
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Creates the directory and those above it (mkdir -p).
bool MakeDirectories(const std::string& dir) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const std::string parent = DirectoryOf(dir);
    if (parent != dir && !MakeDirectories(parent)) return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// The file a path names once symbolic links are followed (at most 40 of
// them); the path itself when it is no link or cannot be read.
std::string ResolveLinks(const std::string& path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) return p;
        target.resize(static_cast<size_t>(n));
        p = target[0] == '/' ? target : DirectoryOf(p) + "/" + target;
    }
    return p;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The process id in a temporary file's name "<file>.tmp.<pid>[.<suffix>]";
// 0 when the name is not one.
pid_t TemporaryOwner(const std::string& name, const std::string& prefix) {
    if (name.compare(0, prefix.size(), prefix) != 0) return 0;
    size_t i = prefix.size();
    long pid = 0;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && pid < (1L << 30); ++i)
        pid = pid * 10 + (name[i] - '0');
    if (i == prefix.size() || (i < name.size() && name[i] != '.')) return 0;
    return static_cast<pid_t>(pid);
}

// Removes the temporary files that processes killed during a save left
// beside `file`; those of processes still running are theirs.
void RemoveStaleTemporaries(const std::string& file) {
    const std::string dir = DirectoryOf(file);
    const std::string prefix = BaseName(file) + ".tmp.";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    while (const struct dirent* entry = ::readdir(d)) {
        const pid_t owner = TemporaryOwner(entry->d_name, prefix);
        if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(d), entry->d_name, 0);
    }
    ::closedir(d);
}

void SyncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// An exclusive lock shared by all processes that use the same file, held on a
// companion file because the registry file itself is replaced on every save.
class FileLock {
  public:
    explicit FileLock(const std::string& path) {
        fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) return;
        int rc;
        do rc = ::flock(fd_, LOCK_EX);
        while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock() {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// One change made through a key open for writing, replayed on the file's
// current content when the changes are saved.
struct Change {
    enum class Kind { kCreateKey, kSetValue, kDeleteValue, kDeleteKey, kClearKey } kind;
    RegPath path;
    std::u16string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

void Apply(RegTree& tree, const Change& c) {
    switch (c.kind) {
        case Change::Kind::kCreateKey:
            tree.Create(c.path);
            break;
        case Change::Kind::kSetValue:
            tree.Create(c.path, false).SetValue(c.name, c.type, c.data);
            break;
        case Change::Kind::kDeleteValue:
            if (RegKeyNode* k = tree.Find(c.path)) k->DeleteValue(c.name);
            break;
        case Change::Kind::kDeleteKey:
            tree.Delete(c.path);
            break;
        case Change::Kind::kClearKey:
            if (RegKeyNode* k = tree.Find(c.path)) k->Clear();
            break;
    }
}

// Splits "A\B\C" into names; false for a leading backslash or an empty name
// in the middle. A trailing backslash is tolerated. Names with a line break
// are refused: a key line of the file cannot hold them.
bool SplitSubkey(const char* subkey, RegPath* out) {
    out->clear();
    if (!subkey || !*subkey) return true;
    const std::u16string text = Utf8ToUtf16(subkey);
    if (text.find_first_of(u"\r\n") != std::u16string::npos) return false;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\\', start);
        if (end == std::u16string::npos) end = text.size();
        if (end == start) return end == text.size() && !out->empty();
        out->push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

std::u16string ValueName(const char* name) {
    return name ? Utf8ToUtf16(name) : std::u16string();
}

class FileRegistry {
  public:
    ~FileRegistry() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pending_.empty()) Save();
    }

    RegStatus Open(RegKey parent, const char* subkey, bool write, RegKey* result) {
        if (!result) return kRegInvalidParameter;
        *result = nullptr;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!Valid(parent)) return kRegInvalidHandle;
        if (write && !parent->writable) return kRegAccessDenied;
        RegPath rel;
        if (!SplitSubkey(subkey, &rel)) return kRegInvalidParameter;
        if (pending_.empty()) Refresh();
        RegPath path = parent->path;
        path.insert(path.end(), rel.begin(), rel.end());
        if (path.size() > kMaxRegKeyDepth) return kRegInvalidParameter;
        if (write) {
            // The first key of a batch of changes checks that they can be saved.
            if (write_keys_ == 0 && !CanSave()) return kRegAccessDenied;
            if (!Exists(path)) {
                Change c{Change::Kind::kCreateKey, path, {}, 0, {}};
                Apply(tree_, c);
                pending_.push_back(std::move(c));
            }
            ++write_keys_;
        } else if (!Exists(path)) {
            return kRegNotFound;
        }
        auto* key = new RegKeyObject{std::move(path), write};
        live_.insert(key);
        *result = key;
        return kRegOk;
    }

    RegStatus Query(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) {
        if (data && !size) return kRegInvalidParameter;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!Valid(key)) return kRegInvalidHandle;
        const RegKeyNode* node = tree_.Find(key->path);
        if (!node) return key->path.size() == 1 ? kRegNotFound : kRegKeyDeleted;
        const RegValue* v = node->FindValue(ValueName(name));
        if (!v) return kRegNotFound;
        if (type) *type = v->type;
        const auto needed = static_cast<uint32_t>(v->data.size());
        if (data) {
            if (*size < needed) {
                *size = needed;
                return kRegMoreData;
            }
            if (needed) std::memcpy(data, v->data.data(), needed);
        }
        if (size) *size = needed;
        return kRegOk;
    }

    RegStatus Modify(RegKey key, Change change) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!Valid(key)) return kRegInvalidHandle;
        if (!key->writable || key == &g_current_user) return kRegAccessDenied;
        if (!tree_.Find(key->path)) return kRegKeyDeleted;
        change.path.insert(change.path.begin(), key->path.begin(), key->path.end());
        if (change.kind == Change::Kind::kDeleteValue &&
            !tree_.Find(change.path)->FindValue(change.name))
            return kRegNotFound;
        if (change.kind == Change::Kind::kDeleteKey && !tree_.Find(change.path))
            return kRegNotFound;
        Apply(tree_, change);
        pending_.push_back(std::move(change));
        return kRegOk;
    }

    RegStatus Close(RegKey key) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (key == &g_current_user) return kRegOk;
        if (!Valid(key)) return kRegInvalidHandle;
        live_.erase(key);
        const bool writable = key->writable;
        delete key;
        if (!writable || --write_keys_ > 0 || pending_.empty()) return kRegOk;
        return Save() ? kRegOk : kRegWriteFault;
    }

  private:
    bool Valid(RegKey key) const { return key == &g_current_user || live_.count(key) != 0; }

    bool Exists(const RegPath& path) const { return path.size() == 1 || tree_.Find(path); }

    // Brings the tree up to date with the file when another process saved it.
    void Refresh() {
        const std::string path = RegistryFilePath();
        if (path != path_) {
            path_ = path;
            loaded_ = FileIdentity{};
            blocked_ = false;
            tree_ = RegTree{};
        }
        if (path_.empty()) return;
        struct stat st;
        const FileIdentity now =
            ::stat(path_.c_str(), &st) == 0 ? FileIdentity::Of(st) : FileIdentity{};
        if (now == loaded_) return;
        Load();
    }

    // Reads the file into the tree; a file that does not parse is moved aside.
    void Load() {
        std::string bytes;
        FileIdentity id;
        tree_ = RegTree{};
        blocked_ = false;
        const ReadResult r = ReadWholeFile(path_, &bytes, &id);
        loaded_ = id;
        if (r != ReadResult::kOk || bytes.empty()) return;
        std::string error;
        if (ParseRegFile(bytes, tree_, &error)) return;
        // Look again under the lock: a writer may have replaced the file.
        FileLock lock(path_);
        if (ReadWholeFile(path_, &bytes, &id) != ReadResult::kOk) return;
        loaded_ = id;
        if (bytes.empty() || ParseRegFile(bytes, tree_, &error)) return;
        if (lock.held())
            SetAside(id, error);
        else
            Block(id, error);
    }

    void SetAside(const FileIdentity& id, const std::string& error) {
        // A link stays a link: the file it points to is moved aside.
        const std::string file = ResolveLinks(path_);
        for (int n = 0; n < 1000; ++n) {
            const std::string aside = file + ".corrupt" + (n ? "." + std::to_string(n) : "");
            // link fails rather than replace an earlier copy kept aside.
            if (::link(file.c_str(), aside.c_str()) == 0) {
                ::unlink(file.c_str());
            } else if (errno == EEXIST) {
                continue;
            } else {
                struct stat st;
                if (::stat(aside.c_str(), &st) == 0) continue;
                if (::rename(file.c_str(), aside.c_str()) != 0) break;
            }
            std::fprintf(stderr,
                         "vimbra: the settings file %s could not be read (%s); it was kept as %s "
                         "and the settings start from their defaults\n",
                         path_.c_str(), error.c_str(), aside.c_str());
            loaded_ = FileIdentity{};
            blocked_ = false;
            return;
        }
        Block(id, error);
    }

    // A bad file that could not be moved aside: nothing is saved over it.
    void Block(const FileIdentity& id, const std::string& error) {
        if (!(blocked_id_ == id))
            std::fprintf(stderr,
                         "vimbra: the settings file %s could not be read (%s) nor moved aside; "
                         "settings will not be saved\n",
                         path_.c_str(), error.c_str());
        blocked_ = true;
        blocked_id_ = id;
    }

    bool CanSave() {
        if (path_.empty() || blocked_) return false;
        const std::string dir = DirectoryOf(ResolveLinks(path_));
        return MakeDirectories(dir) && ::access(dir.c_str(), W_OK) == 0;
    }

    // Replays the pending changes on the file's current content and replaces
    // the file with the result. The changes are dropped either way.
    bool Save() {
        const bool ok = SaveLocked();
        pending_.clear();
        if (!ok) Load();
        return ok;
    }

    bool SaveLocked() {
        if (path_.empty() || blocked_ || !MakeDirectories(DirectoryOf(path_))) return false;
        FileLock lock(path_);
        if (!lock.held()) return false;
        // A settings file that is a symbolic link is replaced where it points.
        const std::string file = ResolveLinks(path_);
        const std::string dir = DirectoryOf(file);
        if (!MakeDirectories(dir)) return false;
        RemoveStaleTemporaries(file);

        std::string bytes;
        FileIdentity id;
        RegTree base;
        const ReadResult r = ReadWholeFile(path_, &bytes, &id);
        if (r == ReadResult::kError) return false;
        std::string error;
        if (r == ReadResult::kOk && !bytes.empty() && !ParseRegFile(bytes, base, &error)) {
            SetAside(id, error);
            if (blocked_) return false;
            base = RegTree{};
        }
        for (const Change& c : pending_) Apply(base, c);

        // Serialised before the temporary file exists, so that nothing can
        // fail between opening it and closing it but the writes themselves.
        const std::string content = SerializeRegFile(base);
        // Created afresh under a name of its own (mkostemp opens with O_EXCL,
        // which refuses an existing name or a link planted there); the process
        // id in the name lets a later save tell a stale one.
        std::string temp = file + ".tmp." + std::to_string(::getpid()) + ".XXXXXX";
        const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st;
        bool ok = WriteAll(fd, content) && ::fsync(fd) == 0 && ::fstat(fd, &st) == 0;
        ok = (::close(fd) == 0) && ok;
        if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
            ::unlink(temp.c_str());
            return false;
        }
        SyncDirectory(dir);
        tree_ = std::move(base);
        loaded_ = FileIdentity::Of(st);
        return true;
    }

    std::mutex mutex_;
    std::string path_;
    RegTree tree_;         // the file's content with the pending changes applied
    FileIdentity loaded_;  // the version of the file the tree was read from
    std::vector<Change> pending_;
    int write_keys_ = 0;       // keys open for writing
    bool blocked_ = false;     // the file is bad and could not be moved aside
    FileIdentity blocked_id_;  // the bad file last reported
    std::unordered_set<RegKeyObject*> live_;
};

FileRegistry& Registry() {
    static FileRegistry registry;
    return registry;
}

}  // namespace

RegKey HkeyCurrentUser() {
    return &g_current_user;
}

RegStatus OpenKey(RegKey parent, const char* subkey, RegKey* result) {
    return Registry().Open(parent, subkey, false, result);
}

RegStatus CreateKey(RegKey parent, const char* subkey, RegKey* result) {
    return Registry().Open(parent, subkey, true, result);
}

RegStatus QueryValue(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) {
    return Registry().Query(key, name, type, data, size);
}

RegStatus SetValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size) {
    if (size && !data) return kRegInvalidParameter;
    const auto* bytes = static_cast<const uint8_t*>(data);
    return Registry().Modify(key, Change{Change::Kind::kSetValue,
                                         {},
                                         ValueName(name),
                                         type,
                                         std::vector<uint8_t>(bytes, bytes + size)});
}

RegStatus DeleteValue(RegKey key, const char* name) {
    return Registry().Modify(key, Change{Change::Kind::kDeleteValue, {}, ValueName(name), 0, {}});
}

RegStatus DeleteTree(RegKey key, const char* subkey) {
    RegPath rel;
    if (!SplitSubkey(subkey, &rel)) return kRegInvalidParameter;
    const auto kind = rel.empty() ? Change::Kind::kClearKey : Change::Kind::kDeleteKey;
    return Registry().Modify(key, Change{kind, std::move(rel), {}, 0, {}});
}

RegStatus CloseKey(RegKey key) {
    return Registry().Close(key);
}

std::string RegistryFilePath() {
    if (const char* file = std::getenv("VIMBRA_REGISTRY_FILE"); file && *file) return file;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return std::string(xdg) + "/vimbra/registry.reg";
    std::string home;
    // Only an absolute HOME: a relative one would follow the working directory.
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
        home = h;
    } else {
        struct passwd pw;
        struct passwd* found = nullptr;
        char buf[4096];
        if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
            home = found->pw_dir;
    }
    if (home.empty()) return {};
    return home + "/.config/vimbra/registry.reg";
}

}  // namespace vimbra::platform
