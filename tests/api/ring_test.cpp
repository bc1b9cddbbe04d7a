#include "api/ring.h"

#include <gtest/gtest.h>

#include <vector>

namespace vimbra {
namespace {

struct Rec {
    int32_t handle;
};

std::vector<int32_t> WalkFromHead(const CTRing<Rec>& ring) {
    std::vector<int32_t> out;
    auto* node = ring.Head();
    for (int i = 0; node && i < ring.Count(); ++i, node = node->next)
        out.push_back(node->data.handle);
    return out;
}

TEST(Ring, AddMakesNewestHeadAndKeepsLinks) {
    CTRing<Rec> ring;
    EXPECT_EQ(ring.Head(), nullptr);
    ring.Add({1});
    ring.Add({2});
    ring.Add({3});
    EXPECT_EQ(ring.Count(), 3);
    // Each node goes in just before head and becomes head: newest first.
    EXPECT_EQ(WalkFromHead(ring), (std::vector<int32_t>{3, 2, 1}));
    EXPECT_EQ(ring.Head()->prev->data.handle, 1);
}

TEST(Ring, FindMovesHeadToMatchOrToLastNode) {
    CTRing<Rec> ring;
    for (int32_t h : {10, 20, 30}) ring.Add({h});  // ring from head: 30, 20, 10
    for (int32_t h : {10, 30, 20}) {
        ASSERT_EQ(ring.Find(h), 1);
        EXPECT_EQ(ring.Head()->data.handle, h);
    }
    // Head is 20; the node before it is 30. A failed walk stops there.
    EXPECT_EQ(ring.Find(99), 0);
    EXPECT_EQ(ring.Head()->data.handle, 30);
    EXPECT_EQ(ring.Count(), 3);
}

TEST(Ring, FindOnEmptyAndSingleRing) {
    CTRing<Rec> ring;
    EXPECT_EQ(ring.Find(5), 0);
    ring.Add({5});
    EXPECT_EQ(ring.Find(5), 1);
    EXPECT_EQ(ring.Find(6), 0);
    EXPECT_EQ(ring.Head()->data.handle, 5);
}

TEST(Ring, RemoveHeadUnlinksAndAdvances) {
    CTRing<Rec> ring;
    for (int32_t h : {1, 2, 3}) ring.Add({h});  // 3, 2, 1
    EXPECT_EQ(ring.RemoveHead(), 1);
    EXPECT_EQ(WalkFromHead(ring), (std::vector<int32_t>{2, 1}));
    EXPECT_EQ(ring.Head()->prev->data.handle, 1);
    ring.RemoveAll();
    EXPECT_EQ(ring.Count(), 0);
    EXPECT_EQ(ring.Head(), nullptr);
    EXPECT_EQ(ring.RemoveHead(), 0);
}

}  // namespace
}  // namespace vimbra
