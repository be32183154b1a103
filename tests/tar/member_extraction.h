#pragma once

#include <string>

#include "tar_reader.h"

// Puts one member below `root` at `relative`, consuming its data. Null on success, otherwise
// what went wrong; a cut archive is reported through `status`.
const char* ExtractMember(TarReader& reader, const TarMember& member, const std::wstring& root,
                          const std::wstring& relative, ReadStatus& status);
