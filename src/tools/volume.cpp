#include "tools/volume.h"

#include "tools/unique_handle.h"

namespace {

// Both queries want the volume's root, with its trailing backslash, not any folder on it.
std::wstring VolumeRoot(const std::wstring& path) {
    wchar_t root[MAX_PATH] = {};
    return GetVolumePathNameW(path.c_str(), root, MAX_PATH) ? root : L"";
}

}  // namespace

bool VolumeHoldsHardLinks(const std::wstring& path) {
    const std::wstring root = VolumeRoot(path);
    DWORD flags = 0;
    return root.empty() ||
           !GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) ||
           (flags & FILE_SUPPORTS_HARD_LINKS) != 0;
}

ULONGLONG VolumeClusterBytes(const std::wstring& path) {
    const std::wstring root = VolumeRoot(path);
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (root.empty() ||
        !GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &clusters) ||
        sectorsPerCluster == 0 || bytesPerSector == 0) {
        return 4096;
    }
    return static_cast<ULONGLONG>(sectorsPerCluster) * bytesPerSector;
}

std::optional<DWORD> VolumeSerial(const std::wstring& path) {
    const UniqueFileHandle opened(CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!opened || !GetFileInformationByHandle(opened.Get(), &information)) {
        return std::nullopt;
    }
    return information.dwVolumeSerialNumber;
}
