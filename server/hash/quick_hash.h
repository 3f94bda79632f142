// The qid of a file on disk.
#pragma once
#include <cstdint>

#include "server/hash/codec/piece_hash.h"

// 1 on success; 0 when the path is missing, the file's current size is not
// size, size is 0, the file cannot be opened or a read comes up short.
int CalcQuickHash(const wchar_t* path, uint64_t size, DigestHolder* qid);
