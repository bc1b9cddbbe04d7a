#include "platform/registry.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry_test_env.h"

namespace vimbra::platform {
namespace {

using testing::TempRegistry;
using testing::Utf16File;

const RegPath kApp{u"HKEY_CURRENT_USER", u"Software", u"App"};

class RegistryTest : public ::testing::Test {
  protected:
    // Writes one value under HKCU\Software\App through a key of its own.
    void Store(const char* name, int32_t value) {
        ScopedRegKey key;
        ASSERT_EQ(CreateKey(HkeyCurrentUser(), "Software\\App", key.Receive()), kRegOk);
        ASSERT_EQ(SetDword(key.get(), name, value), kRegOk);
        ASSERT_EQ(key.Close(), kRegOk);
    }

    TempRegistry registry_;
};

TEST_F(RegistryTest, ValuesReachTheFileAndComeBack) {
    EXPECT_FALSE(registry_.Exists(registry_.path()));
    Store("Answer", -42);

    const std::string bytes = registry_.Read();
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    const RegTree tree = registry_.Tree();
    const RegValue* v = tree.Find(kApp)->FindValue(u"Answer");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->type, kRegDword);
    EXPECT_EQ(v->data, (std::vector<uint8_t>{0xd6, 0xff, 0xff, 0xff}));

    ScopedRegKey key;
    ASSERT_EQ(OpenKey(HkeyCurrentUser(), "software\\APP", key.Receive()), kRegOk);
    int32_t value = 0;
    EXPECT_EQ(QueryDword(key.get(), "answer", &value), kRegOk);
    EXPECT_EQ(value, -42);
}

TEST_F(RegistryTest, SeesFileReplacedByAnotherWriter) {
    Store("Answer", 1);
    RegTree tree = registry_.Tree();
    tree.Find(kApp)->SetValue(u"Answer", kRegDword, {7, 0, 0, 0});
    registry_.Write(SerializeRegFile(tree));

    ScopedRegKey key;
    ASSERT_EQ(OpenKey(HkeyCurrentUser(), "Software\\App", key.Receive()), kRegOk);
    int32_t value = 0;
    EXPECT_EQ(QueryDword(key.get(), "Answer", &value), kRegOk);
    EXPECT_EQ(value, 7);
}

// A save reads the file again under the lock and applies only its own
// changes, so values written meanwhile by another process are kept.
TEST_F(RegistryTest, SaveKeepsValuesWrittenMeanwhile) {
    Store("Mine", 1);
    ScopedRegKey key;
    ASSERT_EQ(CreateKey(HkeyCurrentUser(), "Software\\App", key.Receive()), kRegOk);
    RegTree tree = registry_.Tree();
    tree.Create({u"HKEY_CURRENT_USER", u"Software", u"Other"})
        .SetValue(u"Theirs", kRegSz, {0x41, 0, 0, 0});
    registry_.Write(SerializeRegFile(tree));
    ASSERT_EQ(SetDword(key.get(), "Mine", 2), kRegOk);
    ASSERT_EQ(key.Close(), kRegOk);

    const RegTree after = registry_.Tree();
    EXPECT_NE(after.Find({u"HKEY_CURRENT_USER", u"Software", u"Other"}), nullptr);
    EXPECT_EQ(after.Find(kApp)->FindValue(u"Mine")->data, (std::vector<uint8_t>{2, 0, 0, 0}));
}

TEST_F(RegistryTest, ChangesAreSavedWhenTheLastWritingKeyCloses) {
    ScopedRegKey outer, inner;
    ASSERT_EQ(CreateKey(HkeyCurrentUser(), "Software\\App", outer.Receive()), kRegOk);
    ASSERT_EQ(CreateKey(outer.get(), "Inner", inner.Receive()), kRegOk);
    ASSERT_EQ(SetDword(inner.get(), "A", 1), kRegOk);
    ASSERT_EQ(inner.Close(), kRegOk);
    EXPECT_FALSE(registry_.Exists(registry_.path()));
    // Visible in this process before the save.
    ScopedRegKey reader;
    EXPECT_EQ(OpenKey(outer.get(), "Inner", reader.Receive()), kRegOk);
    ASSERT_EQ(outer.Close(), kRegOk);
    EXPECT_NE(registry_.Tree().Find({u"HKEY_CURRENT_USER", u"Software", u"App", u"Inner"}),
              nullptr);
}

TEST_F(RegistryTest, CallsFailLikeTheirWin32Counterparts) {
    Store("Dword", 5);
    {
        ScopedRegKey w;
        ASSERT_EQ(CreateKey(HkeyCurrentUser(), "Software\\App", w.Receive()), kRegOk);
        const uint8_t two[2] = {0x34, 0x12};
        ASSERT_EQ(SetValue(w.get(), "Short", kRegBinary, two, 2), kRegOk);
        const char16_t text[] = u"long text";
        ASSERT_EQ(SetValue(w.get(), "Text", kRegSz, text, sizeof text), kRegOk);
    }
    ScopedRegKey key;
    ASSERT_EQ(OpenKey(HkeyCurrentUser(), "Software\\App", key.Receive()), kRegOk);

    int32_t holder = 0x7f000000;
    EXPECT_EQ(QueryDword(key.get(), "Missing", &holder), kRegNotFound);
    EXPECT_EQ(holder, 0x7f000000);
    // Short data fill the low bytes only; long data are refused untouched.
    EXPECT_EQ(QueryDword(key.get(), "Short", &holder), kRegOk);
    EXPECT_EQ(holder, 0x7f001234);
    EXPECT_EQ(QueryDword(key.get(), "Text", &holder), kRegMoreData);
    EXPECT_EQ(holder, 0x7f001234);

    uint32_t type = 0, size = 0;
    EXPECT_EQ(QueryValue(key.get(), "Text", &type, nullptr, &size), kRegOk);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, sizeof(u"long text"));

    ScopedRegKey other;
    EXPECT_EQ(OpenKey(key.get(), "Nope", other.Receive()), kRegNotFound);
    EXPECT_EQ(other.get(), nullptr);
    EXPECT_EQ(CreateKey(key.get(), "Sub", other.Receive()), kRegAccessDenied);
    EXPECT_EQ(SetDword(key.get(), "Dword", 1), kRegAccessDenied);
    EXPECT_EQ(DeleteValue(key.get(), "Dword"), kRegAccessDenied);
    EXPECT_EQ(OpenKey(HkeyCurrentUser(), "\\Software", other.Receive()), kRegInvalidParameter);
    EXPECT_EQ(OpenKey(HkeyCurrentUser(), "Software\\\\App", other.Receive()), kRegInvalidParameter);
    EXPECT_EQ(OpenKey(HkeyCurrentUser(), "Software\\App", nullptr), kRegInvalidParameter);

    RegKey raw = nullptr;
    ASSERT_EQ(OpenKey(HkeyCurrentUser(), "Software", &raw), kRegOk);
    EXPECT_EQ(CloseKey(raw), kRegOk);
    EXPECT_EQ(CloseKey(raw), kRegInvalidHandle);
    EXPECT_EQ(QueryDword(raw, "Dword", &holder), kRegInvalidHandle);
}

TEST_F(RegistryTest, DeletedValuesAndKeysAreGoneFromTheFile) {
    Store("A", 1);
    Store("B", 2);
    {
        ScopedRegKey w, sub;
        ASSERT_EQ(CreateKey(HkeyCurrentUser(), "Software\\App", w.Receive()), kRegOk);
        ASSERT_EQ(CreateKey(w.get(), "Sub\\Deeper", sub.Receive()), kRegOk);
        sub.Close();
        EXPECT_EQ(DeleteValue(w.get(), "A"), kRegOk);
        EXPECT_EQ(DeleteValue(w.get(), "A"), kRegNotFound);
        EXPECT_EQ(DeleteTree(w.get(), "Sub"), kRegOk);
    }
    const RegTree tree = registry_.Tree();
    const RegKeyNode* app = tree.Find(kApp);
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->FindValue(u"A"), nullptr);
    EXPECT_NE(app->FindValue(u"B"), nullptr);
    EXPECT_TRUE(app->subkeys.empty());
}

// A key the file cannot hold (a name with a line break, a path deeper than
// the file may nest) is refused, so a save never writes a file that the next
// load would have to set aside with everything in it.
TEST_F(RegistryTest, KeysTheFileCannotHoldAreRefused) {
    Store("Keep", 1);
    std::string deep = "Software\\App";
    for (int i = 0; i < 600; ++i) deep += "\\k";
    const struct {
        const char* what;
        std::string subkey;
    } cases[] = {
        {"line feed in a name", "Software\\App\\line\nfeed"},
        {"carriage return in a name", "Software\\App\\carriage\rreturn"},
        {"nested too deep", deep},
    };
    for (const auto& c : cases) {
        ScopedRegKey key;
        EXPECT_EQ(CreateKey(HkeyCurrentUser(), c.subkey.c_str(), key.Receive()),
                  kRegInvalidParameter)
            << c.what;
        key.Close();
        RegTree tree;
        std::string error;
        ASSERT_TRUE(ParseRegFile(registry_.Read(), tree, &error)) << c.what << ": " << error;
        ASSERT_NE(tree.Find(kApp), nullptr) << c.what;
        EXPECT_NE(tree.Find(kApp)->FindValue(u"Keep"), nullptr) << c.what;
    }
}

TEST_F(RegistryTest, OtherProgramsKeysAndValuesAreKept) {
    const std::u16string exported =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_CURRENT_USER\\Software\\Contoso]\r\n"
        u"\"Path\"=\"C:\\\\Temp\"\r\n"
        u"\"Blob\"=hex:de,ad,be,ef\r\n\r\n"
        u"[HKEY_CURRENT_USER\\Software\\App]\r\n"
        u"\"Old\"=hex(b):01,02,03,04,05,06,07,08\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Machine]\r\n"
        u"@=\"x\"\r\n\r\n";
    registry_.Write(Utf16File(exported));
    RegTree expected;
    ASSERT_TRUE(ParseRegFile(registry_.Read(), expected, nullptr));

    Store("New", 3);
    expected.Find(kApp)->SetValue(u"New", kRegDword, {3, 0, 0, 0});
    EXPECT_EQ(registry_.Tree(), expected);
}

TEST_F(RegistryTest, CorruptFileIsKeptAsideOnceAndDefaultsFollow) {
    const std::string junk = "this is not a registry file\n";
    registry_.Write(junk);

    ::testing::internal::CaptureStderr();
    ScopedRegKey key;
    EXPECT_EQ(OpenKey(HkeyCurrentUser(), "Software\\App", key.Receive()), kRegNotFound);
    EXPECT_EQ(OpenKey(HkeyCurrentUser(), "Software", key.Receive()), kRegNotFound);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(registry_.path()), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "one message: " << said;

    EXPECT_EQ(TempRegistry::Read(registry_.path() + ".corrupt"), junk);
    EXPECT_FALSE(registry_.Exists(registry_.path()));

    // The next save starts a fresh file; a second bad file does not replace
    // the first one kept aside.
    Store("A", 1);
    EXPECT_NE(registry_.Tree().Find(kApp), nullptr);
    registry_.Write("REGEDIT4\n\"value\"=\"before any key\"\n");
    ::testing::internal::CaptureStderr();
    Store("B", 2);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(TempRegistry::Read(registry_.path() + ".corrupt"), junk);
    EXPECT_TRUE(registry_.Exists(registry_.path() + ".corrupt.1"));
    const RegTree tree = registry_.Tree();
    const RegKeyNode* app = tree.Find(kApp);
    ASSERT_NE(app, nullptr);
    EXPECT_NE(app->FindValue(u"B"), nullptr);
}

// A save never writes through a name someone else planted in the directory.
TEST_F(RegistryTest, SaveDoesNotFollowAPlantedTemporaryFile) {
    const std::string victim = registry_.dir() + "/victim";
    std::ofstream(victim) << "precious";
    const std::string planted = registry_.path() + ".tmp." + std::to_string(::getpid());
    ASSERT_EQ(::symlink(victim.c_str(), planted.c_str()), 0);
    Store("Answer", 1);
    EXPECT_EQ(TempRegistry::Read(victim), "precious");
    struct stat st;
    ASSERT_EQ(::lstat(registry_.path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the settings file is a file of its own";
    EXPECT_NE(registry_.Tree().Find(kApp), nullptr);
}

// Temporary files left by processes killed during a save go at the next save;
// those of running processes stay.
TEST_F(RegistryTest, SaveRemovesTemporariesOfDeadProcesses) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string dead = std::to_string(child), alive = std::to_string(::getppid());
    const std::string stale[] = {registry_.path() + ".tmp." + dead,
                                 registry_.path() + ".tmp." + dead + ".a1B2c3"};
    const std::string kept[] = {registry_.path() + ".tmp." + alive + ".x9Y8z7",
                                registry_.path() + ".tmp.notapid",
                                registry_.dir() + "/other.reg.tmp." + dead};
    for (const std::string& f : stale) std::ofstream(f) << "copy";
    for (const std::string& f : kept) std::ofstream(f) << "copy";
    Store("Answer", 1);
    for (const std::string& f : stale) EXPECT_FALSE(registry_.Exists(f)) << f;
    for (const std::string& f : kept) EXPECT_TRUE(registry_.Exists(f)) << f;
}

// A settings file that is a symbolic link keeps being one: the save replaces
// the file it points to.
TEST_F(RegistryTest, SettingsFileThatIsALinkIsWrittenThrough) {
    const std::string real_dir = registry_.dir() + "/real";
    ASSERT_EQ(::mkdir(real_dir.c_str(), 0700), 0);
    struct Case {
        const char* what;
        std::string link_text;
    };
    const Case cases[] = {{"absolute link", real_dir + "/settings.reg"},
                          {"relative link", "real/settings.reg"}};
    int32_t n = 0;
    for (const Case& c : cases) {
        ::unlink(registry_.path().c_str());
        ASSERT_EQ(::symlink(c.link_text.c_str(), registry_.path().c_str()), 0) << c.what;
        Store("Answer", ++n);
        struct stat st;
        ASSERT_EQ(::lstat(registry_.path().c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.what;
        RegTree target;
        ASSERT_TRUE(ParseRegFile(TempRegistry::Read(real_dir + "/settings.reg"), target, nullptr))
            << c.what;
        const RegValue* v = target.Find(kApp)->FindValue(u"Answer");
        ASSERT_NE(v, nullptr) << c.what;
        EXPECT_EQ(v->data[0], n) << c.what;
    }
}

TEST_F(RegistryTest, UnusableLocationRefusesKeysForWriting) {
    ::setenv("VIMBRA_REGISTRY_FILE", "/proc/vimbra-no-such-dir/registry.reg", 1);
    ScopedRegKey key;
    EXPECT_EQ(CreateKey(HkeyCurrentUser(), "Software\\App", key.Receive()), kRegAccessDenied);
    EXPECT_EQ(OpenKey(HkeyCurrentUser(), "Software", key.Receive()), kRegNotFound);
}

// A settings path that names a pipe is no file to read: the calls answer
// instead of waiting for a writer that never comes, and the pipe stays.
// They run in a child that an alarm ends should they block.
TEST_F(RegistryTest, SettingsPathThatIsAPipeIsRefusedWithoutWaiting) {
    ASSERT_EQ(::mkfifo(registry_.path().c_str(), 0600), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(10);
        ScopedRegKey key;
        bool ok = OpenKey(HkeyCurrentUser(), "Software\\App", key.Receive()) == kRegNotFound;
        ok = CreateKey(HkeyCurrentUser(), "Software\\App", key.Receive()) == kRegOk && ok;
        ok = SetDword(key.get(), "Answer", 1) == kRegOk && ok;
        ok = key.Close() == kRegWriteFault && ok;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    struct stat st;
    ASSERT_EQ(::lstat(registry_.path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(RegistryTest, ThreadsSavingAtOnceLoseNothing) {
    constexpr int kThreads = 4, kSaves = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kSaves; ++i) {
                ScopedRegKey key;
                const std::string name = "Thread" + std::to_string(t) + "_" + std::to_string(i);
                if (CreateKey(HkeyCurrentUser(), "Software\\App", key.Receive()) == kRegOk)
                    SetDword(key.get(), name.c_str(), i);
            }
        });
    }
    for (std::thread& th : threads) th.join();
    const RegTree tree = registry_.Tree();
    const RegKeyNode* app = tree.Find(kApp);
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->values.size(), static_cast<size_t>(kThreads * kSaves));
}

TEST(RegistryFilePath, FollowsTheEnvironment) {
    const struct passwd* account = ::getpwuid(::getuid());
    ASSERT_NE(account, nullptr);
    const std::string account_file = std::string(account->pw_dir) + "/.config/vimbra/registry.reg";
    struct Case {
        const char* file;
        const char* xdg;
        const char* home;
        std::string expected;
    };
    const Case cases[] = {
        {"/tmp/x.reg", "/xdg", "/home/u", "/tmp/x.reg"},
        {nullptr, "/xdg", "/home/u", "/xdg/vimbra/registry.reg"},
        {"", "/xdg", "/home/u", "/xdg/vimbra/registry.reg"},
        {nullptr, "relative", "/home/u", "/home/u/.config/vimbra/registry.reg"},
        {nullptr, nullptr, "/home/u", "/home/u/.config/vimbra/registry.reg"},
        // Without a usable HOME the account's home directory is used; a
        // relative HOME would put the file under the working directory.
        {nullptr, nullptr, nullptr, account_file},
        {nullptr, nullptr, "", account_file},
        {nullptr, nullptr, "relative", account_file},
    };
    const auto set = [](const char* name, const char* value) {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    };
    const char* home = std::getenv("HOME");
    const std::string saved_home = home ? home : "";
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const std::string saved_xdg = xdg ? xdg : "";
    for (const Case& c : cases) {
        set("VIMBRA_REGISTRY_FILE", c.file);
        set("XDG_CONFIG_HOME", c.xdg);
        set("HOME", c.home);
        EXPECT_EQ(RegistryFilePath(), c.expected);
    }
    ::unsetenv("VIMBRA_REGISTRY_FILE");
    set("HOME", home ? saved_home.c_str() : nullptr);
    set("XDG_CONFIG_HOME", xdg ? saved_xdg.c_str() : nullptr);
}

}  // namespace
}  // namespace vimbra::platform
