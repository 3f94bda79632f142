// What the processor offers beyond the x86-64 base, for the digest and
// channel code that picks a wider form at run time. Platform-free.
#pragma once

// AVX with its register state kept by the operating system.
bool CpuHasAvx();
// AVX-512 (foundation and byte/word forms) with its register state kept by
// the operating system.
bool CpuHasAvx512();
// AVX-512 with the 512-bit carry-less multiply.
bool CpuHasAvx512Clmul();
// The SHA extensions, with the SSSE3 and SSE4.1 shuffles their users need.
bool CpuHasSha();

// Clears the upper halves of the vector registers (vzeroupper) after AVX
// code: on Intel processors since Skylake every legacy SSE instruction
// (the SHA instructions have no other encoding) waits on a merge with them
// while they are dirty, and GCC does not always clear them itself. A call of
// its own, since across a call no caller keeps values there. Only where
// CpuHasAvx().
void CpuClearUpperHalves();
