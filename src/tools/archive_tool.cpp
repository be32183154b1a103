#include "tools/archive_tool.h"

#include <windows.h>

#include <utility>

#include "tools/held_file_retry.h"
#include "tools/unique_handle.h"

namespace {

std::wstring FindArchiveTool() {
    wchar_t systemFolder[MAX_PATH] = {};
    const UINT systemLength = GetSystemDirectoryW(systemFolder, MAX_PATH);
    const DWORD attributes =
        GetFileAttributesW((std::wstring(systemFolder) + L"\\tar.exe").c_str());
    const bool systemToolExists = systemLength > 0 && systemLength < MAX_PATH &&
                                  attributes != INVALID_FILE_ATTRIBUTES &&
                                  (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    // A cut path names no file, so the start fails and the update reports it.
    wchar_t ownExe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, ownExe, MAX_PATH);
    return ArchiveToolPath(systemFolder, ownExe, systemToolExists);
}

// Opened for reading only while nobody writes it, so the tool never reads a download still
// being written.
UniqueFileHandle OpenArchive(const wchar_t* archivePath) {
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    UniqueFileHandle archive;
    RetryBudget budget;
    RetryWhileHeld(
        [&] {
            archive.Reset(CreateFileW(archivePath, GENERIC_READ, FILE_SHARE_READ, &inheritable,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            return archive ? ERROR_SUCCESS : Outcome(FALSE);
        },
        PauseWhileHeld, budget);
    return archive;
}

}  // namespace

std::wstring ArchiveToolPath(const std::wstring& systemFolder, const std::wstring& ownExePath,
                             bool systemToolExists) {
    if (systemToolExists) {
        return systemFolder + L"\\tar.exe";
    }
    const size_t separator = ownExePath.find_last_of(L"\\/");
    const std::wstring ownFolder =
        separator == std::wstring::npos ? std::wstring() : ownExePath.substr(0, separator);
    return ownFolder + L"\\tar.exe";
}

int RunArchiveTool(const wchar_t* arguments, const wchar_t* archivePath,
                   const wchar_t* workingDirectory, LineCallback onLine) {
    const UniqueFileHandle archive = OpenArchive(archivePath);
    if (!archive) {
        return kArchiveNotOpened;
    }
    const std::wstring tool = FindArchiveTool();
    const std::wstring commandLine = L"\"" + tool + L"\" " + arguments;
    ChildLaunch launch;
    launch.programPath = tool.c_str();
    launch.commandLine = commandLine.c_str();
    launch.standardInput = archive.Get();
    launch.workingDirectory = workingDirectory;
    return RunProcess(launch, std::move(onLine));
}

ArchiveListing ListArchive(const wchar_t* archivePath) {
    ArchiveListing listing;
    listing.exitCode = RunArchiveTool(L"-tvf -", archivePath, nullptr, [&](const wchar_t* line) {
        ++listing.entries;
        listing.files += IsListedFile(line) ? 1 : 0;
        listing.hardLinks += IsListedFile(line) && line[0] == L'h' ? 1 : 0;
    });
    if (listing.exitCode == kArchiveNotOpened) {
        listing.openError = GetLastError();
    }
    return listing;
}

bool IsListedFile(std::wstring_view line) {
    constexpr std::wstring_view kPermissions = L"rwxsStTl-";
    if (line.size() < 10 || (line[0] != L'-' && line[0] != L'h')) {
        return false;
    }
    return line.substr(1, 9).find_first_not_of(kPermissions) == std::wstring_view::npos;
}
