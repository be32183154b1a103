#include "test_files.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>

#include "tools/unique_handle.h"

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
    std::wstring base = temp;
    if (!base.empty() && base.back() == L'\\') {
        base.pop_back();
    }
    path_ = base + L"\\mh-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(counter++);
    RemoveTreeForTests(path_);
    MakeDirectories(path_);
}

ScratchFolder::~ScratchFolder() {
    RemoveTreeForTests(path_);
}

void MakeDirectories(const std::wstring& path) {
    if (path.empty() || IsDirectory(path)) {
        return;
    }
    MakeDirectories(ParentOf(path));
    CreateDirectoryW(path.c_str(), nullptr);
}

void WriteTextFile(const std::wstring& path, const std::string& content) {
    MakeDirectories(ParentOf(path));
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        throw std::runtime_error("cannot write " + Narrow(path));
    }
    DWORD written = 0;
    WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

std::string ReadTextFile(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
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

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveTreeForTests(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(path.c_str())) {
            RemoveDirectoryW(path.c_str());
        }
        return;
    }
    WIN32_FIND_DATAW entry;
    {
        UniqueFindHandle search(FindFirstFileW((path + L"\\*").c_str(), &entry));
        if (search) {
            do {
                const std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..") {
                    RemoveTreeForTests(path + L"\\" + name);
                }
            } while (FindNextFileW(search.Get(), &entry));
        }
    }
    RemoveDirectoryW(path.c_str());
}

std::wstring TestProgramFolder() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return ParentOf(self);
}

std::wstring TestProgramPath(const std::wstring& exeName) {
    return TestProgramFolder() + L"\\" + exeName;
}

std::wstring UpdaterExePath() {
    return ParentOf(TestProgramFolder()) + L"\\mossharbor-updater.exe";
}

std::wstring UpdaterUnderTestExePath() {
    return TestProgramPath(L"mossharbor-updater-under-test.exe");
}
