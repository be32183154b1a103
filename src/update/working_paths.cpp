#include "update/working_paths.h"

#include <windows.h>

namespace {

constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";
constexpr std::wstring_view kUncPrefix = L"\\\\";
constexpr wchar_t kUpdateFolder[] = L"\\update";
constexpr wchar_t kExtractionFolder[] = L"\\extract";

std::wstring WithSingleBackslashes(std::wstring_view path) {
    std::wstring single;
    for (const wchar_t c : path) {
        if (c != L'\\' || single.empty() || single.back() != L'\\') {
            single.push_back(c);
        }
    }
    if (!single.empty() && single.back() == L'\\') {
        single.pop_back();
    }
    return single;
}

}  // namespace

std::wstring ExtendedLengthPath(std::wstring_view fullPath) {
    if (fullPath.starts_with(kExtendedPrefix)) {
        return std::wstring(kExtendedPrefix) + WithSingleBackslashes(fullPath.substr(4));
    }
    if (fullPath.starts_with(kUncPrefix)) {
        return std::wstring(kExtendedPrefix) + L"UNC\\" + WithSingleBackslashes(fullPath.substr(2));
    }
    return std::wstring(kExtendedPrefix) + WithSingleBackslashes(fullPath);
}

WorkingPaths FormWorkingPaths(std::wstring_view fullInstallDir, int32_t clientPid) {
    WorkingPaths paths;
    paths.installDir = ExtendedLengthPath(fullInstallDir);
    paths.updateDir = paths.installDir + kUpdateFolder;
    paths.extractionDir = paths.updateDir + kExtractionFolder;
    paths.backupDir =
        paths.updateDir + L"\\backup_" + std::to_wstring(static_cast<uint32_t>(clientPid));
    paths.replacedDir = paths.updateDir + L"\\replaced";
    paths.pendingVersionFile = paths.installDir + L"\\" + kPendingVersionFileName;
    paths.currentVersionFile = paths.installDir + L"\\norvane_version.txt";
    paths.toolDirectory = std::wstring(fullInstallDir) + kUpdateFolder + kExtractionFolder;
    return paths;
}

std::wstring FullPath(const wchar_t* path) {
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    full.resize(length < full.size() ? length : 0);
    return full;
}
