// The serial field encoding: scalar, byte and text fields, unknown fields
// and field lists.
#include "server/http/codec/field_list.h"

#include <cstring>
#include <type_traits>

namespace serial {

namespace {
constexpr size_t kHeaderExtra = 6;  // ":", the type code and the u32 size after each name

bool ValidName(const std::string& name) {
  return name.find(':') == std::string::npos && name.find('\0') == std::string::npos;
}

// Bytes and texts: a u32 little-endian count, then the bytes.
template <typename C>
uint64_t CountedSize(const C& c) {
  return 4 + uint64_t(c.size());
}
template <typename C>
size_t EncodeCounted(const C& c, uint8_t* out, size_t room) {
  if (c.size() > UINT32_MAX || CountedSize(c) > room) return 0;
  PutLe(out, c.size(), 4);
  if (!c.empty()) std::memcpy(out + 4, c.data(), c.size());
  return 4 + c.size();
}
template <typename C>
size_t DecodeCounted(C* c, const uint8_t* in, size_t length) {
  if (length < 4) return 0;
  const uint64_t n = GetLe(in, 4);
  if (n == 0 || n > length - 4) {
    c->clear();
    return 4;
  }
  c->assign(in + 4, in + 4 + n);
  return 4 + size_t(n);
}

template <typename T>
size_t EncodeScalar(T v, uint8_t* out, size_t room) {
  if (room < sizeof(T)) return 0;
  if constexpr (sizeof(T) == 4)
    PutBe32(out, v);
  else
    PutLe(out, v, sizeof(T));
  return sizeof(T);
}
template <typename T>
size_t DecodeScalar(T* v, const uint8_t* in, size_t length) {
  if (length < sizeof(T)) return 0;
  if constexpr (sizeof(T) == 4)
    *v = GetBe32(in);
  else
    *v = T(GetLe(in, sizeof(T)));
  return sizeof(T);
}
}  // namespace

template <typename T>
uint64_t Field<T>::EncodedSize() const {
  if constexpr (std::is_integral_v<T>)
    return sizeof(T);
  else
    return CountedSize(*value_);
}
template <typename T>
size_t Field<T>::Encode(uint8_t* out, size_t room) const {
  if constexpr (std::is_integral_v<T>)
    return EncodeScalar(*value_, out, room);
  else
    return EncodeCounted(*value_, out, room);
}
template <typename T>
size_t Field<T>::Decode(const uint8_t* in, size_t length) {
  if constexpr (std::is_integral_v<T>)
    return DecodeScalar(value_, in, length);
  else
    return DecodeCounted(value_, in, length);
}

template class Field<uint8_t>;
template class Field<uint32_t>;
template class Field<uint64_t>;
template class Field<Bytes>;
template class Field<std::string>;

size_t UnknownField::Encode(uint8_t* out, size_t room) const {
  if (raw_.size() > room) return 0;
  if (!raw_.empty()) std::memcpy(out, raw_.data(), raw_.size());
  return raw_.size();
}

size_t UnknownField::Decode(const uint8_t* in, size_t length) {
  raw_.assign(in, in + length);
  return length;
}

bool FieldList::SetField(const std::string& name, BaseField* field) {
  if (!field || !ValidName(name)) return false;
  Slot& slot = fields_[name];
  slot.kept.reset();
  slot.field = field;
  return true;
}

bool FieldList::SetField(const std::string& name, std::unique_ptr<BaseField> field) {
  if (!field || !ValidName(name)) return false;
  Slot& slot = fields_[name];
  slot.field = field.get();
  slot.kept = std::move(field);
  return true;
}

BaseField* FieldList::Find(const std::string& name) const {
  auto it = fields_.find(name);
  return it == fields_.end() ? nullptr : it->second.field;
}

void FieldList::KeepUnknown(std::vector<UnknownField>* kept) const {
  std::vector<UnknownField> merged;
  for (const auto& [name, slot] : fields_) {
    if (!slot.field->OwnedByList()) continue;
    const auto* unknown = static_cast<const UnknownField*>(slot.field);
    merged.emplace_back(name, unknown->TypeCode(), unknown->Raw());
  }
  // The list holds pointers into *kept until it is gone; replace it whole.
  for (const UnknownField& old : *kept) {
    bool replaced = false;
    for (const UnknownField& now : merged) replaced = replaced || now.Name() == old.Name();
    if (!replaced) merged.push_back(old);
  }
  *kept = std::move(merged);
}

uint64_t FieldList::EncodedSize() const {
  uint64_t size = 4;
  for (const auto& [name, slot] : fields_) size += name.size() + kHeaderExtra + slot.field->EncodedSize();
  return size;
}

size_t FieldList::Encode(uint8_t* out, size_t room) const {
  const uint64_t size = EncodedSize();
  if (size > room || fields_.size() > UINT32_MAX) return 0;
  PutBe32(out, uint32_t(fields_.size()));
  size_t at = 4;
  for (const auto& [name, slot] : fields_) {
    const uint64_t value = slot.field->EncodedSize();
    if (value > UINT32_MAX) return 0;
    std::memcpy(out + at, name.data(), name.size());
    at += name.size();
    out[at++] = ':';
    out[at++] = slot.field->TypeCode();
    PutBe32(out + at, uint32_t(value));
    at += 4;
  }
  for (const auto& [name, slot] : fields_) {
    const uint64_t value = slot.field->EncodedSize();
    if (slot.field->Encode(out + at, room - at) != value) return 0;
    at += size_t(value);
  }
  return at;
}

size_t FieldList::Decode(const uint8_t* in, size_t length) {
  if (!in || length < 4) return 0;
  const uint64_t n = GetBe32(in);
  if (4 + kHeaderExtra * n > length) return 0;  // checked before anything is allocated
  struct Entry {
    std::string name;
    uint8_t type;
    size_t size;
    size_t at = 0;
  };
  std::vector<Entry> entries;
  entries.reserve(size_t(n));
  size_t at = 4;
  for (uint64_t k = 0; k < n; ++k) {
    size_t colon = at;
    while (colon < length && in[colon] != ':' && in[colon] != 0) ++colon;
    if (colon >= length || in[colon] != ':' || length - colon < kHeaderExtra) return 0;
    entries.push_back({std::string(reinterpret_cast<const char*>(in + at), colon - at), in[colon + 1],
                       size_t(GetBe32(in + colon + 2))});
    at = colon + kHeaderExtra;
  }
  for (Entry& e : entries) {
    if (e.size > length - at) return 0;
    e.at = at;
    at += e.size;
  }
  // Every entry lies inside the input: now the fields take their values.
  decoded_.clear();
  for (const Entry& e : entries) {
    decoded_.insert(e.name);
    BaseField* field = Find(e.name);
    if (!field) {
      SetField(e.name, std::unique_ptr<BaseField>(new UnknownField(e.name, e.type, Bytes(in + e.at, in + e.at + e.size))));
      continue;
    }
    if (field->OwnedByList()) static_cast<UnknownField*>(field)->SetTypeCode(e.type);
    field->Decode(in + e.at, e.size);
  }
  return length;
}

Bytes EncodeField(const BaseField& field) {
  const uint64_t size = field.EncodedSize();
  if (size > UINT32_MAX) return Bytes();
  Bytes out(static_cast<size_t>(size));
  if (field.Encode(out.data(), out.size()) != size) return Bytes();
  return out;
}

}  // namespace serial
