#include "tools/volume.h"

VolumeTraits ExamineVolume(const std::wstring& path) {
    VolumeTraits traits;
    // Both calls want the volume's root, with its trailing backslash, not any folder on it.
    wchar_t root[MAX_PATH] = {};
    if (!GetVolumePathNameW(path.c_str(), root, MAX_PATH)) {
        return traits;
    }
    DWORD flags = 0;
    if (GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
        traits.holdsHardLinks = (flags & FILE_SUPPORTS_HARD_LINKS) != 0;
    }
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (GetDiskFreeSpaceW(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters) &&
        sectorsPerCluster > 0 && bytesPerSector > 0) {
        traits.clusterBytes = static_cast<ULONGLONG>(sectorsPerCluster) * bytesPerSector;
    }
    return traits;
}
