#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

// One 512-byte record of a tar archive, and what the header fields say.
inline constexpr size_t kBlockSize = 512;
using Block = std::array<unsigned char, kBlockSize>;

bool IsZeroBlock(const Block& block);
// Accepts the signed sum too: some old writers computed it with signed chars.
bool ChecksumMatches(const Block& block);

// Octal text, or the GNU base-256 form (high bit of the first byte set) for large values.
std::optional<uint64_t> ParseNumber(const unsigned char* field, size_t width);

struct HeaderFields {
    std::string name;  // joined with the ustar prefix where the format has one
    std::string linkName;
    char type = '0';
    uint64_t size = 0;
};
std::optional<HeaderFields> ReadHeaderFields(const Block& block);

// Keywords of pax extended headers; an empty value removes the keyword.
using PaxValues = std::map<std::string, std::string>;
// False when the records are malformed.
bool ParsePaxRecords(const std::string& data, PaxValues& values);

// Whether data blocks follow a header of this type, whatever its size field says.
bool TypeCarriesData(char type);
