// What faultpost writes for one crash record: a text of "key=value" lines,
// and the name of the file it goes to. Platform-free.
#pragma once
#include <string>
#include <string_view>

#include "monitor/crash/codec/crash_record.h"

// The report of a record read from the shared memory of the given name.
// Numbers of the crashed process in decimal, codes, addresses and registers
// as "0x" and eight hexadecimal digits; the command line in UTF-8 with its
// control characters written "\xNN", so that every value stays on its line.
std::string FormatFaultText(const VXExceptionContext& record, std::u16string_view sharedMemoryName);

// "<name>.txt", where every character of the name other than ASCII letters,
// digits, '_' and '-' becomes '_', so that no name reaches outside the folder.
std::u16string FaultTextFileName(std::u16string_view sharedMemoryName);
