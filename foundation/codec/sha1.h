// SHA-1 as published in FIPS 180-1. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

class CSha1 {
 public:
  CSha1() { Reset(); }
  void Reset();
  void Update(const void* data, size_t length);
  void Final(uint8_t digest[20]);

 private:
  // Runs `count` full 64-byte blocks through the compression function.
  void Transform(const uint8_t* blocks, size_t count);
  uint32_t state_[5];
  uint32_t count_[2];  // bit count, low word first
  uint8_t buffer_[64];
};

// Note the output comes first.
void Sha1Digest(uint8_t digest[20], const void* data, size_t length);

// The portable compression function, whichever form CSha1 chose for this
// processor; tests compare the two.
void Sha1BlocksPortable(uint32_t state[5], const uint8_t* blocks, size_t count);

// The compression function every CSha1 uses from now on: the processor's SHA
// instructions, chosen at start where it has them, or the portable form.
// Tests switch forms to run each as its processors would; false (and no
// change) where the processor lacks the form asked for.
enum class Sha1Form { kPortable, kShaExtensions };
bool Sha1UseForm(Sha1Form form);
