#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/process.h"
#include "session/api_fixture.h"

namespace vimbra::testing {
namespace {

class CameraTableTest : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        Plug({{0, CameraModel::kColor}, {3, CameraModel::kColor}});
    }
    // The table as another program sees it.
    std::unique_ptr<platform::SharedMemory> View() const {
        return platform::SharedMemory::OpenOrCreate(table_name_.c_str(), 4980736, nullptr);
    }
    static const uint8_t* Entry(const platform::SharedMemory& view, int slot) {
        return view.data() + 1960192 + 152 * slot;
    }
    static uint64_t Word(const uint8_t* entry, int index) {
        uint64_t v;
        std::memcpy(&v, entry + 8 * index, sizeof v);
        return v;
    }
    static int32_t Claim(int32_t h, int slot) {
        return WithSession(h, [slot](CVimbra& s) { return s.ClaimCamera(slot); });
    }
    static bool ClaimedElsewhere(int32_t h, int slot) {
        return WithSession(h, [slot](CVimbra& s) { return s.CameraClaimedElsewhere(slot); }) == 1;
    }
};

TEST_F(CameraTableTest, ClaimsUseTheSharedLayout) {
    EXPECT_STREQ(CameraTable::kObjectName, "NORVIX_USBCAMERA");
    const int32_t h = Open();
    auto view = View();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(Claim(h, 3), 1);
    const uint8_t* e = Entry(*view, 3);
    EXPECT_EQ(Word(e, 0), reinterpret_cast<uintptr_t>(windows_.back()));
    EXPECT_EQ(Word(e, 1), platform::MainModuleHandle());
    EXPECT_EQ(Word(e, 2), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(e + 24), "VimbraSdk_740QX_RDL.dll");
    EXPECT_EQ(Word(Entry(*view, 2), 0), 0u);
    EXPECT_EQ(Claim(h, 32), 0);

    // Another session of this process does not release it; the owner does.
    const int32_t other = Open();
    WithSession(other, [](CVimbra& s) { return s.ReleaseCamera(3); });
    EXPECT_TRUE(ClaimedElsewhere(other, 3));
    WithSession(h, [](CVimbra& s) { return s.ReleaseCamera(3); });
    EXPECT_FALSE(ClaimedElsewhere(other, 3));
    EXPECT_EQ(Word(e, 0), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(e + 24), "");
}

TEST_F(CameraTableTest, ReleasingTheSessionReleasesItsCamera) {
    const int32_t h = Open();
    const int32_t other = Open();
    EXPECT_EQ(Claim(h, 0), 1);
    EXPECT_TRUE(ClaimedElsewhere(other, 0));
    Close(h);
    EXPECT_FALSE(ClaimedElsewhere(other, 0));
}

TEST_F(CameraTableTest, ClaimWithoutNotificationWindowStillCounts) {
    const int32_t h = Vimbra_Initialize(nullptr);
    handles_.push_back(h);
    const int32_t other = Open();
    EXPECT_EQ(Claim(h, 0), 1);
    EXPECT_TRUE(ClaimedElsewhere(other, 0));
}

TEST_F(CameraTableTest, ACameraHeldByAKilledProcessBecomesFree) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        const int32_t h = Vimbra_Initialize(VimbraHost_CreateWindow());
        const char ok = Claim(h, 0) == 1 ? 'y' : 'n';
        if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(ok, 'y');

    const int32_t h = Open();
    EXPECT_TRUE(ClaimedElsewhere(h, 0));
    EXPECT_FALSE(ClaimedElsewhere(h, 3));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_FALSE(ClaimedElsewhere(h, 0));
    EXPECT_EQ(Claim(h, 0), 1);
    auto view = View();
    EXPECT_EQ(Word(Entry(*view, 0), 0), reinterpret_cast<uintptr_t>(windows_.back()));
}

TEST_F(CameraTableTest, ForgedProcessIdsAreNotSignalled) {
    // Negative ids are never handed to kill(), which would address process
    // groups: they name no process, so such a claim reads as free.
    const int32_t h = Open();
    auto view = View();
    uint8_t* e = view->data() + 1960192 + 152 * 3;
    std::memcpy(e + 24, "someone", 8);
    const int64_t pids[] = {-1, INT64_MIN};
    for (int64_t pid : pids) {
        std::memcpy(e + 136, &pid, sizeof pid);
        EXPECT_FALSE(ClaimedElsewhere(h, 3)) << pid;
        std::memcpy(e + 24, "someone", 8);
    }
    EXPECT_FALSE(platform::ProcessIsAlive({0, 0}));
    EXPECT_FALSE(platform::ProcessIsAlive({-1, 0}));
    EXPECT_TRUE(platform::ProcessIsAlive(platform::CurrentProcess()));
}

}  // namespace
}  // namespace vimbra::testing
