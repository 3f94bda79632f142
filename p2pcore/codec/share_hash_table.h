// Chained hash table of the share index: 99,999 chains, keys copied, values
// borrowed. Generic over its hash and key comparison. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

namespace p2p {

using table_hash_fn = uint32_t (*)(const uint8_t* key, uint32_t length);
// 0 equal; else the sign of the first differing byte (unsigned) or of the lengths.
using table_compare_fn = int (*)(const uint8_t* a, uint32_t a_length, const uint8_t* b, uint32_t b_length);

// h = h * 31 + byte over the key, 32-bit wrapping.
uint32_t share_hash(const uint8_t* key, uint32_t length);
int share_key_compare(const uint8_t* a, uint32_t a_length, const uint8_t* b, uint32_t b_length);

class share_hash_table {
 public:
  static constexpr uint32_t kBuckets = 99999;

  // Null when memory runs out.
  static share_hash_table* create(table_hash_fn hash = share_hash, table_compare_fn compare = share_key_compare);
  ~share_hash_table();
  share_hash_table(const share_hash_table&) = delete;
  share_hash_table& operator=(const share_hash_table&) = delete;

  // 0 inserted; -1 when the key is present or memory runs out.
  int insert(const uint8_t* key, uint32_t length, void* value);
  bool find(const uint8_t* key, uint32_t length, void** value) const;
  void remove(const uint8_t* key, uint32_t length);

  uint32_t entries() const { return entries_; }
  uint32_t collisions() const { return collisions_; }
  uint32_t bucket_of(const uint8_t* key, uint32_t length) const { return hash_(key, length) % kBuckets; }

  // Visits every value (for clearing).
  template <typename F>
  void for_each(F f) const {
    for (uint32_t b = 0; b < kBuckets; ++b)
      for (node* n = heads_[b]; n; n = n->next) f(n->value);
  }

 private:
  struct node {
    node* next;
    node* prev;
    uint32_t bucket;
    uint8_t* key;
    uint32_t length;
    void* value;
  };
  share_hash_table(table_hash_fn hash, table_compare_fn compare, node** heads)
      : hash_(hash), compare_(compare), heads_(heads) {}
  node* lookup(const uint8_t* key, uint32_t length) const;

  table_hash_fn hash_;
  table_compare_fn compare_;
  node** heads_;
  uint32_t entries_ = 0;
  uint32_t collisions_ = 0;
};

}  // namespace p2p
