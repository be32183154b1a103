#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "tar_format.h"

// Walks the members of an archive in order, folding GNU long-name records and pax headers into
// the member they describe.
struct TarReader {
    HANDLE file = INVALID_HANDLE_VALUE;  // owned by the caller
    PaxValues globals;
    uint64_t unreadData = 0;  // data bytes of the current member not yet consumed
    uint64_t padding = 0;     // zero bytes after them up to the next block
};

struct TarMember {
    std::string name;  // as stored: UTF-8, '/' separated
    std::string linkName;
    char type = '0';
    uint64_t size = 0;
};

enum class ReadStatus { Member, End, Damaged, Truncated };

ReadStatus NextMember(TarReader& reader, TarMember& member);

// Hands the current member's data to `sink` in pieces; Truncated when the archive ends early.
using DataSink = std::function<bool(const char* bytes, size_t count)>;
ReadStatus ReadMemberData(TarReader& reader, const DataSink& sink);
ReadStatus SkipMemberData(TarReader& reader);
