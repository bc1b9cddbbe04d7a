#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "session/api_fixture.h"

namespace vimbra::testing {
namespace {

class ConfigFileTest : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        h = Open();
        Codes(h);
    }
    std::string File(const std::string& name, const std::string& bytes) const {
        const std::string path = registry_.dir() + "/" + name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
        return path;
    }
    std::vector<ConfigPair> List() {
        std::vector<ConfigPair> list;
        WithSession(h, [&](CVimbra& s) {
            list = s.ConfigList();
            return 0;
        });
        return list;
    }
    int32_t h = 0;
};

// Little-endian records as the file holds them.
std::string Records(std::initializer_list<int32_t> values) {
    std::string out;
    for (int32_t v : values)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<char>(static_cast<uint32_t>(v) >> (8 * i)));
    return out;
}

TEST_F(ConfigFileTest, LoadsWholeRecordsAndReplacesTheList) {
    const std::string twenty = File("a.cfg", Records({1, -2, 0x7FFFFFFF, INT32_MIN, 99}));
    EXPECT_EQ(Vimbra_LoadConfigFileA(h, twenty.c_str()), 1);
    EXPECT_EQ(List(), (std::vector<ConfigPair>{{1, -2}, {0x7FFFFFFF, INT32_MIN}}));

    EXPECT_EQ(Vimbra_LoadConfigFileA(h, File("b.cfg", Records({5, 6})).c_str()), 1);
    EXPECT_EQ(List(), (std::vector<ConfigPair>{{5, 6}}));

    EXPECT_EQ(Vimbra_LoadConfigFileA(h, (registry_.dir() + "/missing.cfg").c_str()), 0);
    EXPECT_EQ(Vimbra_LoadConfigFileA(h, nullptr), 0);
    EXPECT_EQ(List(), (std::vector<ConfigPair>{{5, 6}}));

    EXPECT_EQ(Vimbra_LoadConfigFileA(h, File("empty.cfg", "").c_str()), 1);
    EXPECT_TRUE(List().empty());
    EXPECT_TRUE(Codes(h).empty());  // the narrow form records nothing
}

TEST_F(ConfigFileTest, FilesThatCannotBeReadWholeLeaveTheListAlone) {
    EXPECT_EQ(Vimbra_LoadConfigFileA(h, File("keep.cfg", Records({7, 8})).c_str()), 1);
    // A directory, a pipe and a file far larger than any configuration.
    const std::string fifo = registry_.dir() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = registry_.dir() + "/huge.cfg";
    std::filesystem::resize_file(File("huge.cfg", ""), uint64_t{5} << 30);  // sparse
    for (const std::string& path : {registry_.dir(), fifo, huge}) {
        EXPECT_EQ(Vimbra_LoadConfigFileA(h, path.c_str()), 0) << path;
    }
    EXPECT_EQ(List(), (std::vector<ConfigPair>{{7, 8}}));
    // Arbitrary bytes are records like any others.
    std::string garbage;
    for (int i = 0; i < 1003; ++i) garbage.push_back(static_cast<char>(i * 37 + 11));
    EXPECT_EQ(Vimbra_LoadConfigFileA(h, File("garbage.cfg", garbage).c_str()), 1);
    EXPECT_EQ(List().size(), 1003u / 8);
}

TEST_F(ConfigFileTest, WideNamesAreConvertedOrRefusedWithCode12) {
    const std::string path = File("\xC3\xA9t\xC3\xA9.cfg", Records({3, 4}));  // "été.cfg"
    std::u16string wide = platform::Utf8ToUtf16(path);
    EXPECT_EQ(Vimbra_LoadConfigFileW(h, wide.c_str()), 1);
    EXPECT_EQ(List(), (std::vector<ConfigPair>{{3, 4}}));

    const std::u16string lone_surrogate =
        u"a\xD800"
        u"b.cfg";
    const std::u16string too_long(1024, u'a');
    const VimbraWChar* refused[] = {lone_surrogate.c_str(), too_long.c_str(), nullptr};
    for (const VimbraWChar* name : refused) {
        EXPECT_EQ(Vimbra_LoadConfigFileW(h, name), 0);
        EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_FILE});
    }
    EXPECT_EQ(List(), (std::vector<ConfigPair>{{3, 4}}));
}

TEST_F(ConfigFileTest, ConcurrentLoadsLeaveOneWholeList) {
    const std::string a = File("a.cfg", Records({1, 1, 1, 1, 1, 1}));
    const std::string b = File("b.cfg", Records({2, 2}));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i)
                EXPECT_EQ(Vimbra_LoadConfigFileA(h, (t + i) % 2 ? a.c_str() : b.c_str()), 1);
        });
    }
    for (auto& t : threads) t.join();
    const std::vector<ConfigPair> list = List();
    EXPECT_TRUE(list == std::vector<ConfigPair>(3, {1, 1}) ||
                list == std::vector<ConfigPair>(1, {2, 2}));
}

}  // namespace
}  // namespace vimbra::testing
