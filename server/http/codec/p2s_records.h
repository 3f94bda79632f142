// The records a p2s command carries: a file's information and its URL
// entries, each serialised as a field list under one-letter names.
// Platform-free.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "server/http/codec/field_list.h"

namespace p2s {

// One URL entry: every member is written, at its default when not set.
struct URL {
  serial::Bytes u;  // "U": the MD5 of the upper-cased link
  std::string i;    // "I": the link
  std::string r;    // "R"
  std::string l;    // "L"
  std::string n;    // "N"
  uint64_t j = 0;   // "J"
  uint32_t k = 0;   // "K"
  uint32_t s = 0;   // "S"
  uint64_t b = 0;   // "B"
  std::vector<serial::UnknownField> unknown;

  void BindFields(serial::FieldList* list);
};

// length / 2 bytes from a hex text, two digits a byte (a pair that is not
// hex gives 0); the p2s server's form of a fid key.
serial::Bytes BytesOfHex(const std::string& hex);

// The entry the report makes of a file's FTP link: "I" the link, "R" empty,
// "S" 200, "B" 0, "U" the MD5 of the link in upper case.
URL MakeLinkEntry(const std::string& link);

// A file's information. Only the members that were set are written: a
// member is set by the operations below or by a decode that carried it.
struct FileInfo {
  serial::Bytes fid;          // "F"
  uint64_t size = 0;          // "Z"
  uint64_t third = 0;         // "T"
  serial::Bytes pieces;       // "H": the MD5 piece digests, 16 bytes each
  std::vector<URL> urls;      // "C"
  bool hasFid = false, hasSize = false, hasThird = false, hasPieces = false, hasUrls = false;
  std::vector<serial::UnknownField> unknown;

  void BindFields(serial::FieldList* list);
  // A non-empty hex text becomes "F" (two digits a byte, length / 2 bytes),
  // a non-zero size "Z", a non-zero third value "T", a non-empty digest list "H".
  void Set(const std::string& fidHex, const serial::Bytes& digests, uint64_t fileSize, uint64_t thirdValue);
  // Replaces the first entry with the same "U" bytes or the same "I" text,
  // else appends it to "C".
  void AddUrl(const URL& entry);
};

// Decodes a field list into the record; each member it carries is set. The
// whole length or 0 (the record then unchanged).
size_t DecodeFileInfo(FileInfo* info, const uint8_t* in, size_t length);

}  // namespace p2s
