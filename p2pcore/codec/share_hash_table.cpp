// The share index's hash table.
#include "p2pcore/codec/share_hash_table.h"

#include <cstring>
#include <new>

namespace p2p {

uint32_t share_hash(const uint8_t* key, uint32_t length) {
  uint32_t h = 0;
  for (uint32_t i = 0; i < length; ++i) h = h * 31 + key[i];
  return h;
}

int share_key_compare(const uint8_t* a, uint32_t a_length, const uint8_t* b, uint32_t b_length) {
  if (a_length != b_length) return a_length < b_length ? -1 : 1;
  return std::memcmp(a, b, a_length);
}

share_hash_table* share_hash_table::create(table_hash_fn hash, table_compare_fn compare) {
  node** heads = new (std::nothrow) node*[kBuckets]();
  if (!heads) return nullptr;
  share_hash_table* table = new (std::nothrow) share_hash_table(hash, compare, heads);
  if (!table) delete[] heads;
  return table;
}

share_hash_table::~share_hash_table() {
  for (uint32_t b = 0; b < kBuckets; ++b) {
    for (node* n = heads_[b]; n;) {
      node* next = n->next;
      delete[] n->key;
      delete n;
      n = next;
    }
  }
  delete[] heads_;
}

share_hash_table::node* share_hash_table::lookup(const uint8_t* key, uint32_t length) const {
  for (node* n = heads_[bucket_of(key, length)]; n; n = n->next)
    if (compare_(n->key, n->length, key, length) == 0) return n;
  return nullptr;
}

int share_hash_table::insert(const uint8_t* key, uint32_t length, void* value) {
  if (lookup(key, length)) return -1;
  uint8_t* copy = new (std::nothrow) uint8_t[length ? length : 1];
  node* n = copy ? new (std::nothrow) node : nullptr;
  if (!n) {
    delete[] copy;
    return -1;
  }
  std::memcpy(copy, key, length);
  const uint32_t b = bucket_of(key, length);
  *n = {heads_[b], nullptr, b, copy, length, value};
  if (heads_[b]) {
    heads_[b]->prev = n;
    ++collisions_;
  }
  heads_[b] = n;
  ++entries_;
  return 0;
}

bool share_hash_table::find(const uint8_t* key, uint32_t length, void** value) const {
  node* n = lookup(key, length);
  if (n && value) *value = n->value;
  return n != nullptr;
}

void share_hash_table::remove(const uint8_t* key, uint32_t length) {
  node* n = lookup(key, length);
  if (!n) return;
  if (n->prev || n->next) --collisions_;
  if (n->prev) n->prev->next = n->next;
  else heads_[n->bucket] = n->next;
  if (n->next) n->next->prev = n->prev;
  delete[] n->key;
  delete n;
  --entries_;
}

}  // namespace p2p
