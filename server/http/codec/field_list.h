// serial: the self-describing encoding of the p2s command packets. Named,
// typed fields gathered in a field list (names in ascending byte order),
// nested lists and vectors of records. 32-bit counts, sizes and values are
// big-endian; 64-bit values and the length prefixes of byte and text fields
// are little-endian. Fields a decode does not know are kept and written back
// by the next encode. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "server/http/codec/byte_order.h"

namespace serial {

using Bytes = std::vector<uint8_t>;

enum : uint8_t {
  kTypeValue = 2,   // a byte, a u32, a u64, bytes or a text
  kTypeList = 4,    // a field list
  kTypeVector = 8,  // a vector of records, each a field list
};

class BaseField {
 public:
  virtual ~BaseField() = default;
  // True for a field the decoder made and the list owns (an unknown one).
  virtual bool OwnedByList() const { return false; }
  virtual uint8_t TypeCode() const = 0;
  // 64-bit so that sums over nested lists cannot wrap.
  virtual uint64_t EncodedSize() const = 0;
  // The bytes written; 0 when room is smaller than EncodedSize() or the
  // field cannot be written (a size beyond 32 bits).
  virtual size_t Encode(uint8_t* out, size_t room) const = 0;
  // The bytes consumed.
  virtual size_t Decode(const uint8_t* in, size_t length) = 0;
};

// A record member under a name. A u32 or u64 with fewer bytes left, or a
// byte with none, consumes nothing; bytes or a text whose count is 0 or
// larger than what follows the count become empty and consume the count.
template <typename T>
class Field : public BaseField {
 public:
  explicit Field(T* value) : value_(value) {}
  uint8_t TypeCode() const override { return kTypeValue; }
  uint64_t EncodedSize() const override;
  size_t Encode(uint8_t* out, size_t room) const override;
  size_t Decode(const uint8_t* in, size_t length) override;

 private:
  T* value_;
};

extern template class Field<uint8_t>;
extern template class Field<uint32_t>;
extern template class Field<uint64_t>;
extern template class Field<Bytes>;
extern template class Field<std::string>;

// A field a decode did not know: its name, type code and raw value bytes.
class UnknownField : public BaseField {
 public:
  UnknownField() = default;
  UnknownField(std::string name, uint8_t type, Bytes raw) : name_(std::move(name)), type_(type), raw_(std::move(raw)) {}
  bool OwnedByList() const override { return true; }
  uint8_t TypeCode() const override { return type_; }
  void SetTypeCode(uint8_t type) { type_ = type; }
  const std::string& Name() const { return name_; }
  const Bytes& Raw() const { return raw_; }
  uint64_t EncodedSize() const override { return raw_.size(); }
  size_t Encode(uint8_t* out, size_t room) const override;
  // Takes all the bytes.
  size_t Decode(const uint8_t* in, size_t length) override;

 private:
  std::string name_;
  uint8_t type_ = kTypeValue;
  Bytes raw_;
};

// Fields by name, encoded as a u32 count, one header entry per field (name,
// ":", type code, u32 size) and then the values, in name order.
class FieldList : public BaseField {
 public:
  FieldList() = default;
  FieldList(const FieldList&) = delete;
  FieldList& operator=(const FieldList&) = delete;

  // Binds a field the caller keeps alive; a field of the same name is
  // replaced. False for a name holding ":" or a zero byte.
  bool SetField(const std::string& name, BaseField* field);
  // The same for a field the list keeps.
  bool SetField(const std::string& name, std::unique_ptr<BaseField> field);
  // Binds a record member.
  template <typename T>
  bool Bind(const std::string& name, T* member) {
    return SetField(name, std::unique_ptr<BaseField>(new Field<T>(member)));
  }
  BaseField* Find(const std::string& name) const;
  size_t Count() const { return fields_.size(); }
  // Names the last decode filled.
  bool WasDecoded(const std::string& name) const { return decoded_.count(name) != 0; }
  // Merges the fields this list did not know into a record's kept ones
  // (replacing those of the same name).
  void KeepUnknown(std::vector<UnknownField>* kept) const;

  uint8_t TypeCode() const override { return kTypeList; }
  uint64_t EncodedSize() const override;
  size_t Encode(uint8_t* out, size_t room) const override;
  // The whole length when every header entry and value lies inside the
  // input; else 0 and nothing in the list or its fields changes.
  size_t Decode(const uint8_t* in, size_t length) override;

 private:
  struct Slot {
    BaseField* field = nullptr;
    std::unique_ptr<BaseField> kept;
  };
  std::map<std::string, Slot> fields_;
  std::set<std::string> decoded_;
};

// Whole-buffer helpers; an empty result when the field cannot be encoded.
Bytes EncodeField(const BaseField& field);

// A record is any type with BindFields(FieldList*) that binds its members
// and its kept unknown fields, and a vector<UnknownField> named unknown.
template <typename R>
void BindRecord(const R& record, FieldList* list) {
  // Encoding reads through the binding only; the members are not changed.
  const_cast<R&>(record).BindFields(list);
}
template <typename R>
uint64_t RecordSize(const R& record) {
  FieldList list;
  BindRecord(record, &list);
  return list.EncodedSize();
}
template <typename R>
size_t EncodeRecord(const R& record, uint8_t* out, size_t room) {
  FieldList list;
  BindRecord(record, &list);
  return list.Encode(out, room);
}
template <typename R>
Bytes EncodeRecord(const R& record) {
  FieldList list;
  BindRecord(record, &list);
  return EncodeField(list);
}
// Consumes the whole length or nothing.
template <typename R>
size_t DecodeRecord(R* record, const uint8_t* in, size_t length) {
  FieldList list;
  record->BindFields(&list);
  const size_t used = list.Decode(in, length);
  if (used) list.KeepUnknown(&record->unknown);
  return used;
}

// Records in order: a u32 count, a u32 size per element, then the elements.
template <typename R>
class FieldVector : public BaseField {
 public:
  explicit FieldVector(std::vector<R>* items) : items_(items) {}
  uint8_t TypeCode() const override { return kTypeVector; }
  uint64_t EncodedSize() const override {
    uint64_t size = 4 + 4 * uint64_t(items_->size());
    for (const R& item : *items_) size += RecordSize(item);
    return size;
  }
  size_t Encode(uint8_t* out, size_t room) const override {
    const uint64_t size = EncodedSize();
    if (size > room || items_->size() > UINT32_MAX) return 0;
    PutBe32(out, uint32_t(items_->size()));
    size_t table = 4, at = 4 + 4 * items_->size();
    for (const R& item : *items_) {
      const uint64_t one = RecordSize(item);
      if (one > UINT32_MAX || EncodeRecord(item, out + at, room - at) != one) return 0;
      PutBe32(out + table, uint32_t(one));
      table += 4;
      at += size_t(one);
    }
    return at;
  }
  // Appends the decoded elements; one element that does not decode from
  // exactly its size makes the whole vector decode nothing.
  size_t Decode(const uint8_t* in, size_t length) override {
    if (length < 4) return 0;
    const uint64_t n = GetBe32(in);
    if (4 + 4 * n > length) return 0;  // checked before anything is allocated
    uint64_t total = 4 + 4 * n;
    for (uint64_t k = 0; k < n; ++k) total += GetBe32(in + 4 + 4 * k);
    if (total > length) return 0;
    // Grown one decoded element at a time, so memory follows what the input holds.
    std::vector<R> decoded;
    size_t at = size_t(4 + 4 * n);
    for (size_t k = 0; k < size_t(n); ++k) {
      const size_t one = GetBe32(in + 4 + 4 * k);
      R item;
      if (one == 0 || DecodeRecord(&item, in + at, one) != one) return 0;
      decoded.push_back(std::move(item));
      at += one;
    }
    for (R& item : decoded) items_->push_back(std::move(item));
    return at;
  }

 private:
  std::vector<R>* items_;
};

}  // namespace serial
