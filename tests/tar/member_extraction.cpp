#include "member_extraction.h"

#include <windows.h>

#include "member_paths.h"
#include "support/utf8_text.h"
#include "tools/unique_handle.h"

namespace {

// Creates every missing folder from `root` down to `relative`; `root` must exist.
bool MakeFolders(const std::wstring& root, const std::wstring& relative) {
    size_t position = 0;
    while (position <= relative.size()) {
        size_t end = relative.find(L'\\', position);
        if (end == std::wstring::npos) {
            end = relative.size();
        }
        const std::wstring folder = root + L"\\" + relative.substr(0, end);
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
        position = end + 1;
    }
    return true;
}

bool MakeParentFolders(const std::wstring& root, const std::wstring& relative) {
    const size_t slash = relative.rfind(L'\\');
    return slash == std::wstring::npos || MakeFolders(root, relative.substr(0, slash));
}

const char* WriteFileMember(TarReader& reader, const std::wstring& path, ReadStatus& status) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        status = SkipMemberData(reader);
        return "Can't create file";
    }
    bool written = true;
    status = ReadMemberData(reader, [&](const char* bytes, size_t count) {
        DWORD done = 0;
        written = WriteFile(file.Get(), bytes, static_cast<DWORD>(count), &done, nullptr) &&
                  done == count;
        return written;
    });
    return written ? nullptr : "Write failed";
}

const char* LinkMember(const TarMember& member, const std::wstring& root,
                       const std::wstring& path) {
    const MemberPath target = ToRelativePath(member.linkName);
    if (target.refusal != nullptr) {
        return target.refusal;
    }
    const std::wstring targetPath = root + L"\\" + target.relative;
    if (member.type == '1') {
        return CopyFileW(targetPath.c_str(), path.c_str(), FALSE) ? nullptr
                                                                  : "Can't create hard link";
    }
    const DWORD flags = (GetFileAttributesW(targetPath.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
                            ? SYMBOLIC_LINK_FLAG_DIRECTORY
                            : 0;
    return CreateSymbolicLinkW(path.c_str(), Widen(member.linkName).c_str(), flags)
               ? nullptr
               : "Can't create symbolic link";
}

}  // namespace

const char* ExtractMember(TarReader& reader, const TarMember& member, const std::wstring& root,
                          const std::wstring& relative, ReadStatus& status) {
    status = ReadStatus::Member;
    if (relative.empty()) {
        status = SkipMemberData(reader);
        return nullptr;  // the extraction folder itself
    }
    const std::wstring path = root + L"\\" + relative;
    switch (member.type) {
        case '5':
            return MakeFolders(root, relative) ? nullptr : "Can't create directory";
        case '0':
        case '\0':
        case '7':
            if (!MakeParentFolders(root, relative)) {
                status = SkipMemberData(reader);
                return "Can't create directory";
            }
            return WriteFileMember(reader, path, status);
        case '1':
        case '2':
            status = SkipMemberData(reader);
            if (!MakeParentFolders(root, relative)) {
                return "Can't create directory";
            }
            return LinkMember(member, root, path);
        default:
            status = SkipMemberData(reader);
            return "Unsupported member type";
    }
}
