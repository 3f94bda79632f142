// What the FTP synchronisation shares with the commands that show its values.
#pragma once
#include <string>

// The form in which the FTP library reports a password: 32 upper-case hex
// digits of the MD5 of its ANSI text; empty for no password.
std::wstring FtpPasswordDigest(const std::wstring& password);
