// The two conversions of Quillkit.dll, as the programs look them up by name.
// Texts end with a zero; the traditional text is allocated with VirtualAlloc
// and its caller releases it with VirtualFree(p, 0, MEM_RELEASE).
#pragma once

extern "C" {
// GB2312 (GBK) text to UTF-8 in output, which holds at least twice the
// input's length plus one byte. Returns the bytes written without the zero.
typedef int (*Gb2312ToUtf8Fn)(const char* input, char* output);
// Simplified to traditional Chinese; null when there is nothing to return.
typedef wchar_t* (*GBKSimplified2GBKTraditionalFn)(const wchar_t* text);
}
