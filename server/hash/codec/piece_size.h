// Piece sizes of a file's content ids: the MD5 pieces behind the fid and SID,
// the SHA-1 pieces behind the cid. Functions of the file size alone. Platform-free.
#pragma once
#include <cstdint>

uint64_t GetMd5PieceSize(uint64_t size);
uint64_t GetSha1PieceSize(uint64_t size);
// Number of MD5 pieces: ceil(size / GetMd5PieceSize(size)); 0 for size 0.
uint64_t GetPieceCount(uint64_t size);
// Number of pieces of the given size that cover size bytes; 0 when either is 0.
uint64_t PieceCountFor(uint64_t size, uint64_t pieceSize);
