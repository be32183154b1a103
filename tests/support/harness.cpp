#include "support/harness.h"

#include <atomic>
#include <filesystem>
#include <fstream>

namespace {

std::wstring ParentOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L'\\'));
}

struct WindowSearch {
    DWORD pid;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[256] = {};
    GetClassNameW(window, className, 256);
    if (owner == search->pid && wcscmp(className, search->className) == 0 &&
        IsWindowVisible(window)) {
        search->found = window;
    }
    return search->found == nullptr;
}

}  // namespace

ScratchFolder::ScratchFolder() {
    static std::atomic<int> counter{0};
    path_ =
        (std::filesystem::temp_directory_path() /
         (L"mh-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++)))
            .wstring();
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteTextFile(const std::wstring& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(std::filesystem::path(path), std::ios::binary) << content;
}

std::string ReadTextFile(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<missing>";
}

bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

size_t EntryCount(const std::wstring& directory) {
    std::error_code ignored;
    return std::distance(std::filesystem::directory_iterator(directory, ignored), {});
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

std::wstring TestProgramPath(const std::wstring& exeName) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return ParentOf(self) + L"\\" + exeName;
}

std::wstring UpdaterExePath() {
    return ParentOf(ParentOf(TestProgramPath(L""))) + L"\\mossharbor-updater.exe";
}

bool MakeArchive(const std::wstring& tree, const std::wstring& archive, const std::wstring& options,
                 const std::wstring& members) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    std::filesystem::create_directories(std::filesystem::path(archive).parent_path());
    const UniqueFileHandle output(CreateFileW(archive.c_str(), GENERIC_WRITE, 0, &inheritable,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const StartedProcess tool = StartProgram(std::wstring(system) + L"\\tar.exe",
                                             options + L" -f - " + members, tree, output.Get());
    return output && WaitForExitCode(tool.process, 60000) == 0u;
}

StartedProcess StartProgram(const std::wstring& exePath, const std::wstring& arguments,
                            const std::wstring& workingDirectory, HANDLE output) {
    std::wstring commandLine = L"\"" + exePath + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = output != nullptr ? STARTF_USESTDHANDLES : 0;
    startup.hStdOutput = output;
    PROCESS_INFORMATION info{};
    StartedProcess started;
    if (CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, output != nullptr,
                       CREATE_NO_WINDOW, nullptr,
                       workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                       &info)) {
        const UniqueHandle thread(info.hThread);
        started.process.Reset(info.hProcess);
        started.pid = info.dwProcessId;
    }
    return started;
}

std::optional<DWORD> WaitForExitCode(const UniqueHandle& process, DWORD timeoutMs) {
    DWORD code = 0;
    if (WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.Get(), &code)) {
        return std::nullopt;
    }
    return code;
}

void KillProgram(const UniqueHandle& process) {
    if (process) {
        TerminateProcess(process.Get(), 99);
        WaitForSingleObject(process.Get(), 5000);
    }
}

HWND WaitForProcessWindow(DWORD pid, const wchar_t* className, DWORD timeoutMs) {
    WindowSearch search{pid, className, nullptr};
    WaitUntil(
        [&] {
            EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    const HWND label = GetDlgItem(window, 0xFFFF);
    GetWindowTextW(label != nullptr ? label : window, text, 1024);
    return text;
}
