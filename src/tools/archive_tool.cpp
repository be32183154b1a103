#include "tools/archive_tool.h"

#include <windows.h>

#include <utility>

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
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    const UniqueFileHandle archive(CreateFileW(archivePath, GENERIC_READ, FILE_SHARE_READ,
                                               &inheritable, OPEN_EXISTING,
                                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!archive) {
        return -1;
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

int CountArchiveEntries(const wchar_t* archivePath) {
    int entries = 0;
    RunArchiveTool(L"-tf -", archivePath, nullptr, [&entries](const wchar_t*) { ++entries; });
    return entries;
}
