#pragma once

#include <string>
#include <vector>

// One member of a test archive. Names are UTF-8 with '/' separators, as tar stores them.
struct ArchiveMember {
    std::string name;
    std::string content;
    bool directory = false;
};

inline ArchiveMember File(std::string name, std::string content) {
    return {std::move(name), std::move(content), false};
}
inline ArchiveMember Folder(std::string name) {
    return {std::move(name), {}, true};
}

// How names longer than the 100-byte header field are stored.
enum class LongNames { Gnu, Pax };

// A complete ustar archive of the members, in order, with the end-of-archive blocks.
std::string MakeTarArchive(const std::vector<ArchiveMember>& members,
                           LongNames longNames = LongNames::Gnu);
// The same archive with the header checksum of its last member broken.
std::string MakeDamagedTarArchive(const std::vector<ArchiveMember>& members);
// The same archive cut in the middle of its last member's data (which must not be empty).
std::string MakeTruncatedTarArchive(const std::vector<ArchiveMember>& members);

// Writes an archive's bytes to a file, creating missing folders.
void WriteArchive(const std::wstring& path, const std::string& archive);
