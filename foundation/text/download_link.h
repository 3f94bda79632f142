// Normalisation of download links: "thunder:", "qqdl:" and "qedpxp://"
// wrappers are unwrapped, share links trimmed, http and ftp URLs rebuilt
// with a percent-encoded path. Platform-free.
#pragma once
#include <string>

#include "foundation/text/code_page.h"

// Changes the text in place. False, text emptied, when a wrapper does not
// decode to a link (too long, too short or without its marker) or an http
// or ftp URL does not parse.
bool DecodeDownloadLink(std::string& text, const LinkTextEnv& env);
