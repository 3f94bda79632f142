// The publish task's hashing of a file on disk: one read of the whole file,
// its pieces digested on every core, with the task's checks before each block.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "server/hash/codec/file_hash_pass.h"

// Reads the file once in kHashReadBlock blocks: SHA-1 pieces (cid) always,
// MD5 pieces (fid, sid, piece digests) only with fullHash. Before each block
// the file must still have `size` bytes and `stop` must be unsignalled; each
// failure is logged to the main log, and the pass's speed is logged at the
// end either way. 1 on success; on failure the outputs are untouched.
int CalcFileHash(const wchar_t* path, uint64_t size, DigestHolder* fid, DigestHolder* sid, DigestHolder* cid,
                 std::vector<uint8_t>* pieces, bool fullHash, HANDLE stop, const HashPassOptions& options = {});
