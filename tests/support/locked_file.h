#pragma once

#include <string>

#include "tools/unique_handle.h"

// Opens a file without sharing, the way a running game or a scanner holds it, so that copies
// onto it or from it fail with a sharing violation until the handle is released.
UniqueFileHandle HoldFileOpen(const std::wstring& path);
