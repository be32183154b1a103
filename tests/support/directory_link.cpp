#include "directory_link.h"

#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "tools/unique_handle.h"

namespace {

// Lets an account without the privilege make a symbolic link when developer mode is on.
constexpr DWORD kAllowUnprivilegedCreate = 0x2;

bool IsDirectoryLink(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The mount point layout of a reparse buffer; the SDK keeps it in a driver header.
struct MountPointHeader {
    DWORD reparseTag;
    WORD reparseDataLength;
    WORD reserved;
    WORD substituteNameOffset;
    WORD substituteNameLength;
    WORD printNameOffset;
    WORD printNameLength;
};

bool MakeJunction(const std::wstring& link, const std::wstring& target) {
    if (!CreateDirectoryW(link.c_str(), nullptr)) {
        return false;
    }
    const std::wstring substitute = L"\\??\\" + target;
    const size_t substituteBytes = substitute.size() * sizeof(wchar_t);
    const size_t printBytes = target.size() * sizeof(wchar_t);
    const size_t namesBytes = substituteBytes + printBytes + 2 * sizeof(wchar_t);
    std::vector<std::byte> buffer(sizeof(MountPointHeader) + namesBytes);

    MountPointHeader header = {};
    header.reparseTag = IO_REPARSE_TAG_MOUNT_POINT;
    header.reparseDataLength = static_cast<WORD>(8 + namesBytes);
    header.substituteNameLength = static_cast<WORD>(substituteBytes);
    header.printNameOffset = static_cast<WORD>(substituteBytes + sizeof(wchar_t));
    header.printNameLength = static_cast<WORD>(printBytes);
    std::memcpy(buffer.data(), &header, sizeof(header));
    std::byte* names = buffer.data() + sizeof(header);
    std::memcpy(names, substitute.c_str(), substituteBytes);
    std::memcpy(names + header.printNameOffset, target.c_str(), printBytes);

    UniqueFileHandle directory(
        CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD returned = 0;
    const bool made = directory && DeviceIoControl(directory.Get(), FSCTL_SET_REPARSE_POINT,
                                                   buffer.data(), static_cast<DWORD>(buffer.size()),
                                                   nullptr, 0, &returned, nullptr);
    if (!made) {
        directory.Reset();
        RemoveDirectoryW(link.c_str());
    }
    return made;
}

}  // namespace

LinkKind MakeDirectoryLink(const std::wstring& link, const std::wstring& target) {
    const DWORD flags = SYMBOLIC_LINK_FLAG_DIRECTORY | kAllowUnprivilegedCreate;
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) && IsDirectoryLink(link)) {
        return LinkKind::kSymbolicLink;
    }
    RemoveDirectoryW(link.c_str());
    if (MakeJunction(link, target) && IsDirectoryLink(link)) {
        return LinkKind::kJunction;
    }
    RemoveDirectoryW(link.c_str());
    return LinkKind::kNone;
}
