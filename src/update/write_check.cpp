#include "update/write_check.h"

#include <windows.h>

#include <set>
#include <vector>

#include "tools/directory_listing.h"

#include "tools/file_replacement.h"
#include "tools/held_file_retry.h"
#include "tools/unique_handle.h"
#include "update/extraction_stage.h"
#include "update/settings.h"

namespace {

constexpr wchar_t kProbeStem[] = L"\\mossharbor-write-check";
// Enough for any game's kinds of file; an update of more is judged by its first ones.
constexpr size_t kMostExtensions = 16;

// Scanners and indexers open a file the instant it is created; such a hold is waited for, as for
// any other file, so that only a real refusal fails the check.
DWORD CreateProbe(const std::wstring& path) {
    return RetryFileWhileHeld([&] {
        const UniqueFileHandle probe(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                 CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
        return probe ? ERROR_SUCCESS : Outcome(FALSE);
    });
}

DWORD DeleteProbe(const std::wstring& path) {
    const DWORD error = RetryFileWhileHeld([&] { return Outcome(DeleteFileW(path.c_str())); });
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

// Each kind of file the update brings, by the extension a shield judges it by, lower-cased.
void CollectExtensions(const std::wstring& folder, std::set<std::wstring>& extensions) {
    ForEachEntry(folder, [&](const ListedEntry& entry) {
        if (entry.kind == EntryKind::kDirectory) {
            CollectExtensions(folder + L"\\" + entry.name, extensions);
        } else if (const std::wstring extension = ProbeExtension(entry.name);
                   !extension.empty() && extensions.size() < kMostExtensions) {
            extensions.insert(extension);
        }
    });
}

}  // namespace

std::wstring ProbeExtension(std::wstring_view name) {
    const size_t dot = name.rfind(L'.');
    if (dot == name.npos || dot + 1 == name.size()) {
        return {};
    }
    std::wstring extension(name.substr(dot));
    CharLowerBuffW(extension.data(), static_cast<DWORD>(extension.size()));
    return extension;
}

DWORD TryChangingFolder(const std::wstring& folder, const std::wstring& extension) {
    const std::wstring probe = folder + kProbeStem + extension;
    const std::wstring replacement = folder + kProbeStem + L"-new" + extension;
    RetryBudget budget;
    DWORD error = CreateProbe(probe);
    error = error ? error : CreateProbe(replacement);
    error = error ? error : ReplaceByMove(replacement, probe, 0, {}, budget);
    error = error ? error : DeleteProbe(probe);
    // Nothing of the check may stay in the player's folders, whichever step failed.
    if (error != ERROR_SUCCESS) {
        DeleteProbe(replacement);
        DeleteProbe(probe);
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
        if (IsDiskFull(error)) {
            return kDiskFullFailure;
        }
        if (error != ERROR_SUCCESS) {
            return kWritesRefusedFailure;
        }
    }
    return nullptr;
}

const wchar_t* ShippedKindsRefused(const WorkingPaths& paths, const std::wstring& extractionRoot) {
    std::set<std::wstring> extensions;
    CollectExtensions(extractionRoot, extensions);
    for (const std::wstring& extension : extensions) {
        const DWORD error = TryChangingFolder(paths.installDir, extension);
        if (error != ERROR_SUCCESS) {
            return IsDiskFull(error) ? kDiskFullFailure : kWritesRefusedFailure;
        }
    }
    return nullptr;
}
