#include "tar_format.h"

#include <cstring>

namespace {

constexpr size_t kNameOffset = 0;
constexpr size_t kNameWidth = 100;
constexpr size_t kSizeOffset = 124;
constexpr size_t kSizeWidth = 12;
constexpr size_t kChecksumOffset = 148;
constexpr size_t kChecksumWidth = 8;
constexpr size_t kTypeOffset = 156;
constexpr size_t kLinkOffset = 157;
constexpr size_t kLinkWidth = 100;
constexpr size_t kMagicOffset = 257;
constexpr size_t kPrefixOffset = 345;
constexpr size_t kPrefixWidth = 155;

std::string FieldText(const Block& block, size_t offset, size_t width) {
    const char* start = reinterpret_cast<const char*>(block.data() + offset);
    return std::string(start, strnlen(start, width));
}

// GNU's own magic reuses the prefix area for times, so only POSIX ustar has a prefix.
bool HasUstarPrefix(const Block& block) {
    return std::memcmp(block.data() + kMagicOffset, "ustar\0", 6) == 0;
}

}  // namespace

bool IsZeroBlock(const Block& block) {
    for (unsigned char byte : block) {
        if (byte != 0) {
            return false;
        }
    }
    return true;
}

bool ChecksumMatches(const Block& block) {
    const std::optional<uint64_t> stored =
        ParseNumber(block.data() + kChecksumOffset, kChecksumWidth);
    if (!stored) {
        return false;
    }
    uint64_t unsignedSum = 0;
    int64_t signedSum = 0;
    for (size_t i = 0; i < kBlockSize; ++i) {
        const bool inField = i >= kChecksumOffset && i < kChecksumOffset + kChecksumWidth;
        const unsigned char byte = inField ? ' ' : block[i];
        unsignedSum += byte;
        signedSum += static_cast<signed char>(byte);
    }
    return *stored == unsignedSum || static_cast<int64_t>(*stored) == signedSum;
}

std::optional<uint64_t> ParseNumber(const unsigned char* field, size_t width) {
    if (width > 0 && (field[0] & 0x80) != 0) {
        if ((field[0] & 0x40) != 0) {
            return std::nullopt;  // negative
        }
        uint64_t value = field[0] & 0x3F;
        for (size_t i = 1; i < width; ++i) {
            if (value > (UINT64_MAX >> 8)) {
                return std::nullopt;
            }
            value = (value << 8) | field[i];
        }
        return value;
    }
    size_t i = 0;
    while (i < width && field[i] == ' ') {
        ++i;
    }
    uint64_t value = 0;
    bool digits = false;
    for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) {
        value = value * 8 + static_cast<uint64_t>(field[i] - '0');
        digits = true;
    }
    for (; i < width; ++i) {
        if (field[i] != ' ' && field[i] != '\0') {
            return std::nullopt;
        }
    }
    if (!digits) {
        return 0;
    }
    return value;
}

std::optional<HeaderFields> ReadHeaderFields(const Block& block) {
    const std::optional<uint64_t> size = ParseNumber(block.data() + kSizeOffset, kSizeWidth);
    if (!size) {
        return std::nullopt;
    }
    HeaderFields fields;
    fields.name = FieldText(block, kNameOffset, kNameWidth);
    if (HasUstarPrefix(block)) {
        const std::string prefix = FieldText(block, kPrefixOffset, kPrefixWidth);
        if (!prefix.empty()) {
            fields.name = prefix + "/" + fields.name;
        }
    }
    fields.linkName = FieldText(block, kLinkOffset, kLinkWidth);
    fields.type = static_cast<char>(block[kTypeOffset]);
    fields.size = *size;
    return fields;
}

bool ParsePaxRecords(const std::string& data, PaxValues& values) {
    size_t position = 0;
    while (position < data.size()) {
        if (data[position] == '\0') {
            break;  // some writers pad the data with zeros
        }
        size_t length = 0;
        size_t cursor = position;
        while (cursor < data.size() && data[cursor] >= '0' && data[cursor] <= '9') {
            length = length * 10 + static_cast<size_t>(data[cursor] - '0');
            if (length > data.size()) {
                return false;
            }
            ++cursor;
        }
        if (cursor == position || length <= cursor - position + 1 || cursor >= data.size() ||
            data[cursor] != ' ' || position + length > data.size() ||
            data[position + length - 1] != '\n') {
            return false;
        }
        const std::string record = data.substr(cursor + 1, position + length - 1 - (cursor + 1));
        const size_t equals = record.find('=');
        if (equals == std::string::npos) {
            return false;
        }
        values[record.substr(0, equals)] = record.substr(equals + 1);
        position += length;
    }
    return true;
}

bool TypeCarriesData(char type) {
    switch (type) {
        case '2':  // symbolic link
        case '3':  // character device
        case '4':  // block device
        case '5':  // directory
        case '6':  // fifo
            return false;
        default:
            return true;
    }
}
