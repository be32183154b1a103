#pragma once

#include <string>

// UTF-8 and UTF-16 in both directions: tar names and the tests' file contents are UTF-8.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
