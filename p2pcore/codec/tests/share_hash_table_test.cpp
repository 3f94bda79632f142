// The share index's hash table: hash, chains, duplicates, removal.
#include <gtest/gtest.h>

#include <memory>

#include "p2pcore/codec/share_hash_table.h"

namespace {

TEST(ShareHashTable, HashIsTimes31OverUnsignedBytes) {
  const uint8_t key[] = {1, 2, 0xFF};
  EXPECT_EQ(p2p::share_hash(key, 3), (1u * 31 + 2) * 31 + 255);
  uint8_t big[16];
  for (uint8_t& b : big) b = 0xFF;
  uint32_t h = 0;
  for (int i = 0; i < 16; ++i) h = h * 31 + 255;  // wraps
  EXPECT_EQ(p2p::share_hash(big, 16), h);
}

TEST(ShareHashTable, KeyCompareLikeMemcmp) {
  const uint8_t a[] = {1, 0x80}, b[] = {1, 0x7F}, c[] = {1};
  EXPECT_EQ(p2p::share_key_compare(a, 2, a, 2), 0);
  EXPECT_GT(p2p::share_key_compare(a, 2, b, 2), 0);  // unsigned bytes
  EXPECT_NE(p2p::share_key_compare(a, 2, c, 1), 0);
}

// All keys in one chain, so chain links are exercised.
uint32_t one_chain(const uint8_t*, uint32_t) { return 7; }

TEST(ShareHashTable, InsertFindRemove) {
  for (bool chained : {false, true}) {
    SCOPED_TRACE(chained ? "one chain" : "spread");
    std::unique_ptr<p2p::share_hash_table> t(
        chained ? p2p::share_hash_table::create(one_chain) : p2p::share_hash_table::create());
    ASSERT_TRUE(t);
    uint8_t keys[5][16] = {};
    int values[5];
    for (int k = 0; k < 5; ++k) {
      keys[k][0] = uint8_t(k);
      EXPECT_EQ(t->insert(keys[k], 16, &values[k]), 0);
    }
    EXPECT_EQ(t->insert(keys[2], 16, &values[0]), -1);  // present: unchanged
    EXPECT_EQ(t->entries(), 5u);
    if (chained) {
      EXPECT_EQ(t->collisions(), 4u);
    }
    void* v = nullptr;
    ASSERT_TRUE(t->find(keys[2], 16, &v));
    EXPECT_EQ(v, &values[2]);
    t->remove(keys[2], 16);  // middle of the chain
    t->remove(keys[4], 16);  // head
    t->remove(keys[2], 16);  // absent: no effect
    EXPECT_FALSE(t->find(keys[2], 16, &v));
    EXPECT_EQ(t->entries(), 3u);
    for (int k : {0, 1, 3}) {
      ASSERT_TRUE(t->find(keys[k], 16, &v));
      EXPECT_EQ(v, &values[k]);
    }
    int seen = 0;
    t->for_each([&](void*) { ++seen; });
    EXPECT_EQ(seen, 3);
  }
}

}  // namespace
