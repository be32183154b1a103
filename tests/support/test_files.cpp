#include "support/test_files.h"

#include <atomic>

#include "support/process_harness.h"
#include "tools/directory_listing.h"
#include "tools/directory_tree.h"

namespace {

std::wstring ParentOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

ScratchFolder::ScratchFolder() {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"mh-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++);
    DeleteTree(path_);
    MakeDirectories(path_);
}

ScratchFolder::~ScratchFolder() {
    DeleteTree(path_);
}

void MakeDirectories(const std::wstring& path) {
    if (!path.empty() && !PathExists(path)) {
        MakeDirectories(ParentOf(path));
        CreateDirectoryW(path.c_str(), nullptr);
    }
}

void WriteTextFile(const std::wstring& path, const std::string& content) {
    MakeDirectories(ParentOf(path));
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

std::string ReadTextFile(const std::wstring& path) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return "<missing>";
    }
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    return content;
}

bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

size_t EntryCount(const std::wstring& directory) {
    size_t count = 0;
    ForEachEntry(directory, [&count](const std::wstring&, DWORD) { ++count; });
    return count;
}

std::wstring TestProgramPath(const std::wstring& exeName) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return ParentOf(self) + L"\\" + exeName;
}

std::wstring UpdaterExePath() {
    return ParentOf(ParentOf(TestProgramPath(L""))) + L"\\mossharbor-updater.exe";
}

bool MakeArchive(const std::wstring& tree, const std::wstring& archive,
                 const std::wstring& options) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    MakeDirectories(ParentOf(archive));
    const UniqueFileHandle output(CreateFileW(archive.c_str(), GENERIC_WRITE, 0, &inheritable,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::wstring tool = std::wstring(system) + L"\\tar.exe";
    std::wstring commandLine = L"\"" + tool + L"\" " + options + L" -f - .";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.Get();
    PROCESS_INFORMATION started{};
    if (!output || !CreateProcessW(tool.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                   CREATE_NO_WINDOW, nullptr, tree.c_str(), &startup, &started)) {
        return false;
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    return WaitForExitCode(process, 60000) == 0u;
}
