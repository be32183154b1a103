#include "tar_reader.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

constexpr uint64_t kLargestMetadata = 1 << 20;  // long names and pax headers are small

// Bytes read before the archive ended; a short count means end of file.
size_t ReadUpTo(HANDLE file, char* buffer, size_t wanted) {
    size_t total = 0;
    while (total < wanted) {
        DWORD read = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(wanted - total, 1 << 20));
        if (!ReadFile(file, buffer + total, ask, &read, nullptr) || read == 0) {
            break;
        }
        total += read;
    }
    return total;
}

uint64_t PaddingFor(uint64_t size) {
    return (kBlockSize - size % kBlockSize) % kBlockSize;
}

ReadStatus ReadWholeData(TarReader& reader, std::string& data) {
    if (reader.unreadData > kLargestMetadata) {
        return ReadStatus::Damaged;
    }
    data.clear();
    return ReadMemberData(reader, [&data](const char* bytes, size_t count) {
        data.append(bytes, count);
        return true;
    });
}

// Text up to the first zero byte, as GNU long-name records hold it.
std::string UpToZero(const std::string& data) {
    return data.substr(0, data.find('\0'));
}

std::optional<uint64_t> PaxSize(const PaxValues& values) {
    const auto found = values.find("size");
    if (found == values.end() || found->second.empty()) {
        return std::nullopt;
    }
    uint64_t size = 0;
    for (char digit : found->second) {
        if (digit < '0' || digit > '9') {
            return std::nullopt;
        }
        size = size * 10 + static_cast<uint64_t>(digit - '0');
    }
    return size;
}

std::string PaxText(const PaxValues& locals, const PaxValues& globals, const char* key) {
    for (const PaxValues* values : {&locals, &globals}) {
        const auto found = values->find(key);
        if (found != values->end()) {
            return found->second;
        }
    }
    return {};
}

}  // namespace

ReadStatus NextMember(TarReader& reader, TarMember& member) {
    if (const ReadStatus skipped = SkipMemberData(reader); skipped != ReadStatus::Member) {
        return skipped;
    }
    std::string longName;
    std::string longLink;
    PaxValues locals;
    for (;;) {
        Block block;
        const size_t read =
            ReadUpTo(reader.file, reinterpret_cast<char*>(block.data()), kBlockSize);
        if (read == 0) {
            return ReadStatus::End;  // no end marker, but nothing cut either
        }
        if (read < kBlockSize) {
            return ReadStatus::Truncated;
        }
        if (IsZeroBlock(block)) {
            return ReadStatus::End;
        }
        if (!ChecksumMatches(block)) {
            return ReadStatus::Damaged;
        }
        const std::optional<HeaderFields> fields = ReadHeaderFields(block);
        if (!fields) {
            return ReadStatus::Damaged;
        }
        reader.unreadData = TypeCarriesData(fields->type) ? fields->size : 0;
        reader.padding = PaddingFor(reader.unreadData);

        const char type = fields->type;
        if (type == 'L' || type == 'K' || type == 'x' || type == 'g') {
            std::string data;
            if (const ReadStatus status = ReadWholeData(reader, data);
                status != ReadStatus::Member) {
                return status;
            }
            if (type == 'L') {
                longName = UpToZero(data);
            } else if (type == 'K') {
                longLink = UpToZero(data);
            } else if (!ParsePaxRecords(data, type == 'x' ? locals : reader.globals)) {
                return ReadStatus::Damaged;
            }
            continue;
        }

        const std::string paxPath = PaxText(locals, reader.globals, "path");
        const std::string paxLink = PaxText(locals, reader.globals, "linkpath");
        member.name = !paxPath.empty() ? paxPath : !longName.empty() ? longName : fields->name;
        member.linkName = !paxLink.empty()    ? paxLink
                          : !longLink.empty() ? longLink
                                              : fields->linkName;
        member.type = type;
        member.size = fields->size;
        if (const std::optional<uint64_t> size = PaxSize(locals)) {
            member.size = *size;
        } else if (const std::optional<uint64_t> globalSize = PaxSize(reader.globals)) {
            member.size = *globalSize;
        }
        if (TypeCarriesData(type)) {
            reader.unreadData = member.size;
            reader.padding = PaddingFor(member.size);
        }
        return ReadStatus::Member;
    }
}

ReadStatus ReadMemberData(TarReader& reader, const DataSink& sink) {
    std::vector<char> buffer(64 * 1024);
    bool sinking = true;  // a sink that failed once gets nothing more; the data is still consumed
    while (reader.unreadData > 0) {
        const size_t wanted =
            static_cast<size_t>(std::min<uint64_t>(reader.unreadData, buffer.size()));
        const size_t read = ReadUpTo(reader.file, buffer.data(), wanted);
        reader.unreadData -= read;
        if (sinking && read > 0) {
            sinking = sink(buffer.data(), read);
        }
        if (read < wanted) {
            return ReadStatus::Truncated;
        }
    }
    const size_t padding = static_cast<size_t>(reader.padding);
    reader.padding = 0;
    if (ReadUpTo(reader.file, buffer.data(), padding) < padding) {
        return ReadStatus::Truncated;
    }
    return ReadStatus::Member;
}

ReadStatus SkipMemberData(TarReader& reader) {
    return ReadMemberData(reader, [](const char*, size_t) { return true; });
}
