#pragma once

#include <string>

// The sound server speaks UTF-8; the engines carry ids and names as wide strings (one
// code point per wchar_t here). Malformed input becomes U+FFFD, never an exception.
std::wstring wideFromUtf8(const std::string &text);
std::string utf8FromWide(const std::wstring &text);
