#include "tools/volume.h"

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
