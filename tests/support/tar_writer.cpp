#include "tar_writer.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "test_files.h"

namespace {

constexpr size_t kBlock = 512;
constexpr size_t kNameField = 100;

void PutText(std::string& header, size_t offset, size_t width, const std::string& text) {
    header.replace(offset, std::min(text.size(), width), text.substr(0, width));
}

void PutOctal(std::string& header, size_t offset, size_t width, unsigned long long value) {
    char digits[32];
    std::snprintf(digits, sizeof(digits), "%0*llo", static_cast<int>(width - 1), value);
    PutText(header, offset, width - 1, digits);
}

std::string Header(const std::string& name, char type, size_t size, bool gnuMagic) {
    std::string header(kBlock, '\0');
    PutText(header, 0, kNameField, name);
    PutOctal(header, 100, 8, type == '5' ? 0755 : 0644);
    PutOctal(header, 108, 8, 0);
    PutOctal(header, 116, 8, 0);
    PutOctal(header, 124, 12, size);
    PutOctal(header, 136, 12, 1700000000);
    header[156] = type;
    header.replace(257, 8,
                   gnuMagic ? std::string("ustar  \0", 8)
                            : std::string("ustar\0"
                                          "00",
                                          8));
    header.replace(148, 8, 8, ' ');
    unsigned sum = 0;
    for (unsigned char byte : header) {
        sum += byte;
    }
    char checksum[8];
    std::snprintf(checksum, sizeof(checksum), "%06o", sum);
    header.replace(148, 7, checksum, 7);  // six digits, a zero byte, and the space stays
    return header;
}

void AppendData(std::string& archive, const std::string& data) {
    archive += data;
    archive.append((kBlock - data.size() % kBlock) % kBlock, '\0');
}

std::string PaxRecord(const std::string& key, const std::string& value) {
    const size_t body = key.size() + value.size() + 3;  // space, '=', newline
    size_t length = body + 1;
    while (std::to_string(length).size() + body != length) {
        ++length;
    }
    return std::to_string(length) + " " + key + "=" + value + "\n";
}

// Appends one member and returns where its own header starts.
size_t AppendMember(std::string& archive, const ArchiveMember& member, LongNames longNames) {
    const std::string name = member.directory ? member.name + "/" : member.name;
    const bool gnu = longNames == LongNames::Gnu;
    if (name.size() > kNameField) {
        if (gnu) {
            archive += Header("././@LongLink", 'L', name.size() + 1, true);
            AppendData(archive, name + '\0');
        } else {
            const std::string records = PaxRecord("path", name);
            archive += Header("PaxHeaders/" + name.substr(0, 60), 'x', records.size(), false);
            AppendData(archive, records);
        }
    }
    const size_t start = archive.size();
    const std::string& content = member.directory ? std::string() : member.content;
    archive +=
        Header(name.substr(0, kNameField), member.directory ? '5' : '0', content.size(), gnu);
    AppendData(archive, content);
    return start;
}

std::string Archive(const std::vector<ArchiveMember>& members, LongNames longNames,
                    size_t& lastHeader) {
    std::string archive;
    lastHeader = 0;
    for (const ArchiveMember& member : members) {
        lastHeader = AppendMember(archive, member, longNames);
    }
    archive.append(2 * kBlock, '\0');
    return archive;
}

}  // namespace

std::string MakeTarArchive(const std::vector<ArchiveMember>& members, LongNames longNames) {
    size_t lastHeader = 0;
    return Archive(members, longNames, lastHeader);
}

std::string MakeDamagedTarArchive(const std::vector<ArchiveMember>& members) {
    size_t lastHeader = 0;
    std::string archive = Archive(members, LongNames::Gnu, lastHeader);
    archive[lastHeader + 148] = archive[lastHeader + 148] == '1' ? '2' : '1';
    return archive;
}

std::string MakeTruncatedTarArchive(const std::vector<ArchiveMember>& members) {
    if (members.empty() || members.back().content.size() < 2) {
        throw std::invalid_argument("the last member needs content to cut");
    }
    size_t lastHeader = 0;
    const std::string archive = Archive(members, LongNames::Gnu, lastHeader);
    return archive.substr(0, lastHeader + kBlock + members.back().content.size() / 2);
}

void WriteArchive(const std::wstring& path, const std::string& archive) {
    WriteTextFile(path, archive);
}
