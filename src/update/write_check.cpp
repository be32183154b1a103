#include "update/write_check.h"

#include <windows.h>

#include <vector>

#include "tools/unique_handle.h"
#include "update/extraction_stage.h"
#include "update/settings.h"

namespace {

constexpr wchar_t kProbeName[] = L"\\mossharbor-write-check.tmp";

bool CreateProbe(const std::wstring& path) {
    return static_cast<bool>(
        UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_TEMPORARY, nullptr)));
}

}  // namespace

DWORD TryChangingFolder(const std::wstring& folder) {
    const std::wstring probe = folder + kProbeName;
    const std::wstring replacement = probe + L".new";
    const bool allowed =
        CreateProbe(probe) && CreateProbe(replacement) &&
        MoveFileExW(replacement.c_str(), probe.c_str(), MOVEFILE_REPLACE_EXISTING) &&
        DeleteFileW(probe.c_str());
    const DWORD error = allowed ? ERROR_SUCCESS : GetLastError();
    if (!allowed) {
        DeleteFileW(replacement.c_str());
        DeleteFileW(probe.c_str());
    }
    return error;
}

const wchar_t* WriteCheckFailure(const WorkingPaths& paths) {
    std::vector<std::wstring> folders = {paths.installDir, paths.updateDir};
    for (const wchar_t* relative : kPreservedDirectories) {
        folders.push_back(paths.installDir + L"\\" + relative);
    }
    for (const std::wstring& folder : folders) {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        const bool exists =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        const DWORD error = exists ? TryChangingFolder(folder) : ERROR_SUCCESS;
        if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
            return kDiskFullFailure;
        }
        if (error != ERROR_SUCCESS) {
            return kWritesRefusedFailure;
        }
    }
    return nullptr;
}
