// What the processor offers beyond the x86-64 base, for the digest and
// channel code that picks a wider form at run time. Platform-free.
#pragma once

// AVX-512 (foundation and byte/word forms) with its register state kept by
// the operating system.
bool CpuHasAvx512();
// AVX-512 with the 512-bit carry-less multiply.
bool CpuHasAvx512Clmul();
