// Linked into the test build of the updater in place of the shipping per-user folder lookup.
// Everything here is driven by environment variables that the tests set.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "display/progress_state.h"
#include "update/roaming_folder.h"

namespace {

std::wstring Variable(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return std::wstring(value, length < MAX_PATH ? length : 0);
}

// MOSSHARBOR_TEST_PROGRESS_LOG: every repaint request is appended as "percent failed status",
// one line each, in UTF-16.
// MOSSHARBOR_TEST_HOLD_STATUS / _PERCENT: the worker stops once both are reached, creates the
// file "<log>.held" and waits until "<log>.release" exists, so a test can press keys, hold files
// or kill the process exactly there instead of relying on timing.
// MOSSHARBOR_TEST_EXIT_ON_FAILURE: a failure ends the process with exit code 3 instead of waiting
// for an Esc that a script cannot press.
void OnRepaintRequest(const ProgressState& state, void*) {
    static const std::wstring log = Variable(L"MOSSHARBOR_TEST_PROGRESS_LOG");
    static const std::wstring holdStatus = Variable(L"MOSSHARBOR_TEST_HOLD_STATUS");
    static const int holdPercent = _wtoi(Variable(L"MOSSHARBOR_TEST_HOLD_PERCENT").c_str());
    if (FILE* file = _wfopen(log.c_str(), L"ab")) {  // binary: the characters as they are
        fwprintf(file, L"%d %d %ls\n", state.percent.load(), state.failed.load(), state.statusText);
        fclose(file);
    }
    static const bool exitOnFailure = !Variable(L"MOSSHARBOR_TEST_EXIT_ON_FAILURE").empty();
    if (exitOnFailure && state.failed) {
        ExitProcess(3);
    }
    if (holdStatus.empty() || holdStatus != state.statusText || state.percent < holdPercent) {
        return;
    }
    if (FILE* marker = _wfopen((log + L".held").c_str(), L"w")) {
        fclose(marker);
    }
    while (GetFileAttributesW((log + L".release").c_str()) == INVALID_FILE_ATTRIBUTES) {
        Sleep(20);
    }
}

void* originals[20];
std::wstring names[20];
bool strict = false;  // under Wine, whose file rules are laxer than Windows'

// Every wide string argument of the wrapped functions is a path.
template <typename T>
const wchar_t* AsPath(T) {
    return nullptr;
}
const wchar_t* AsPath(const wchar_t* path) {
    return path;
}

// Windows' own file rules, which Wine does not keep: a path of 260 characters or more (248 for a
// new folder) works only in the \\?\ form, and a read-only, hidden or system file cannot be
// overwritten (by creating it anew, unless the new file asks for its hidden and system bits).
bool TooLong(const wchar_t* path, size_t limit) {
    return path != nullptr && wcsncmp(path, L"\\\\?\\", 4) != 0 && wcslen(path) >= limit;
}
DWORD ReplaceRefused(const wchar_t* path, DWORD asked = 0) {
    const DWORD attributes = reinterpret_cast<decltype(&GetFileAttributesW)>(originals[8])(path);
    constexpr DWORD kProtected =
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    // A missing path has the folder bit set too.
    return !(attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & ~asked & kProtected)
               ? ERROR_ACCESS_DENIED
               : ERROR_SUCCESS;
}

// MOSSHARBOR_TEST_FAIL = "Function error mask part-of-a-path": the calls of that function that
// name a path holding the part (any call, without a part) fail with that error: every one for a
// mask of 0, else those whose bits are set, the lowest for the first such call.
struct Injection {
    std::wstring function, part;
    DWORD error = 0;
    int nth = 0, seen = 0;
};
Injection ReadInjection() {
    Injection injection;
    std::wistringstream fields(Variable(L"MOSSHARBOR_TEST_FAIL"));
    fields >> injection.function >> injection.error >> injection.nth;
    std::getline(fields >> std::ws, injection.part);
    return injection;
}
bool Names(const wchar_t* path, const std::wstring& part) {
    return path != nullptr && wcsstr(path, part.c_str()) != nullptr;
}

// MOSSHARBOR_TEST_CLOUD_FOLDERS: the game lies in a cloud-synced tree (OneDrive's Files
// On-Demand), where Windows reports every folder as a reparse point with a cloud-file tag.
const bool cloudFolders = !Variable(L"MOSSHARBOR_TEST_CLOUD_FOLDERS").empty();
bool IsPlainFolder(DWORD attributes) {
    return cloudFolders && attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               FILE_ATTRIBUTE_DIRECTORY;
}
// The listing calls' found entry, among all the wrapped calls' arguments; what a failed listing
// leaves is never read.
template <typename T>
void ListAsCloudFolder(T) {}
void ListAsCloudFolder(WIN32_FIND_DATAW* found) {
    if (IsPlainFolder(found->dwFileAttributes)) {
        found->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        found->dwReserved0 = IO_REPARSE_TAG_CLOUD_6;
    }
}

// Slot: where the original is kept. Limit: the path length refused. Replaces: the second argument
// names a file the call replaces.
template <typename Function, int Slot, size_t Limit = MAX_PATH, bool Replaces = false>
struct Strict;
template <typename R, typename... A, int Slot, size_t Limit, bool Replaces>
struct Strict<R(WINAPI*)(A...), Slot, Limit, Replaces> {
    static R WINAPI Call(A... arguments) {
        static Injection injection = ReadInjection();
        DWORD error =
            strict && (TooLong(AsPath(arguments), Limit) || ...) ? ERROR_FILENAME_EXCED_RANGE : 0;
        if constexpr (Replaces) {
            error = error || !strict ? error : ReplaceRefused(std::get<1>(std::tie(arguments...)));
        }
        if constexpr (Slot == 1) {  // CreateFileW, which overwrites when it creates anew
            const auto disposition = std::get<4>(std::tie(arguments...));
            error = error || !strict ||
                            (disposition != CREATE_ALWAYS && disposition != TRUNCATE_EXISTING)
                        ? error
                        : ReplaceRefused(std::get<0>(std::tie(arguments...)),
                                         std::get<5>(std::tie(arguments...)) &
                                             (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
        }
        if (!error && injection.function == names[Slot] &&
            (injection.part.empty() || (Names(AsPath(arguments), injection.part) || ...)) &&
            (injection.nth == 0 || (injection.nth >> injection.seen++ & 1))) {
            error = injection.error;
        }
        if (error == ERROR_SUCCESS) {
            const R result = reinterpret_cast<R(WINAPI*)(A...)>(originals[Slot])(arguments...);
            (ListAsCloudFolder(arguments), ...);
            return result;
        }
        SetLastError(error);
        // FALSE, CreateThread's null handle, INVALID_HANDLE_VALUE or INVALID_FILE_ATTRIBUTES
        return std::is_same_v<R, BOOL> || std::is_same_v<R(WINAPI*)(A...), decltype(&CreateThread)>
                   ? R()
                   : R(intptr_t(-1));
    }
};

// MOSSHARBOR_TEST_SYSTEM_FOLDER stands in for the system folder, to take its tar.exe away.
UINT WINAPI TestSystemDirectory(LPWSTR buffer, UINT size) {
    const UINT length = GetEnvironmentVariableW(L"MOSSHARBOR_TEST_SYSTEM_FOLDER", buffer, size);
    return length ? length
                  : reinterpret_cast<decltype(&GetSystemDirectoryW)>(originals[0])(buffer, size);
}

// Finite waits last a thousandth of their time here, so that a limit of minutes where there should
// be none, on the client or the archive tool, shows within a test's seconds.
DWORD WINAPI ShortenedWait(HANDLE handle, DWORD ms) {
    return reinterpret_cast<decltype(&WaitForSingleObject)>(originals[17])(
        handle, ms == INFINITE ? INFINITE : ms / 1000);
}

DWORD WINAPI CloudAttributes(LPCWSTR path) {
    const DWORD attributes = Strict<decltype(&GetFileAttributesW), 8>::Call(path);
    return IsPlainFolder(attributes) ? attributes | FILE_ATTRIBUTE_REPARSE_POINT : attributes;
}

// So do the pauses between attempts at a held file; their nominal sum goes to "<log>.paused", so
// that a test can hold thirty files and still tell each walk's budget.
DWORD WINAPI ShortenedPause(DWORD ms, BOOL alertable) {
    static const std::wstring sum = Variable(L"MOSSHARBOR_TEST_PROGRESS_LOG") + L".paused";
    static DWORD pausedMs = 0;
    pausedMs += ms;
    if (FILE* file = _wfopen(sum.c_str(), L"w")) {
        fprintf(file, "%lu", pausedMs);
        fclose(file);
    }
    return reinterpret_cast<decltype(&SleepEx)>(originals[19])(ms / 1000, alertable);
}

using Wrapper = std::pair<const char*, void*>;

// Points this exe's imports of the wrapped functions at the wrappers; each keeps its original in
// the slot of its place in the table.
void PatchImports(const Wrapper* wrappers, size_t count) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const IMAGE_DATA_DIRECTORY table =
        reinterpret_cast<IMAGE_NT_HEADERS*>(base +
                                            reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew)
            ->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    void** const imports = reinterpret_cast<void**>(base + table.VirtualAddress);
    DWORD protection = 0;
    VirtualProtect(imports, table.Size, PAGE_READWRITE, &protection);
    for (size_t i = 0; i < count; ++i) {
        names[i].assign(wrappers[i].first, wrappers[i].first + strlen(wrappers[i].first));
        originals[i] = reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32"), wrappers[i].first));
        for (void** slot = imports; slot != imports + table.Size / sizeof(void*); ++slot) {
            *slot = *slot == originals[i] ? wrappers[i].second : *slot;
        }
    }
    VirtualProtect(imports, table.Size, protection, &protection);
}

#define WRAPPED(name, wrapper) \
    { #name, reinterpret_cast < void*>(wrapper) }
#define RULED(name, slot, ...) WRAPPED(name, (&Strict<decltype(&name), slot, ##__VA_ARGS__>::Call))
bool InstallHooks() {
    Progress().observer = OnRepaintRequest;
    // clang-format off
    const Wrapper wrappers[] = {
        WRAPPED(GetSystemDirectoryW, &TestSystemDirectory), RULED(CreateFileW, 1),
        RULED(CreateDirectoryW, 2, 248), RULED(CopyFileW, 3, MAX_PATH, true),
        RULED(MoveFileExW, 4, MAX_PATH, true), RULED(MoveFileW, 5), RULED(DeleteFileW, 6),
        RULED(RemoveDirectoryW, 7), WRAPPED(GetFileAttributesW, &CloudAttributes),
        RULED(GetFileAttributesExW, 9), RULED(SetFileAttributesW, 10),
        RULED(FindFirstFileW, 11), RULED(GetDiskFreeSpaceExW, 12),
        RULED(CreatePipe, 13), RULED(CreateProcessW, 14), RULED(GetExitCodeProcess, 15),
        RULED(CreateThread, 16), WRAPPED(WaitForSingleObject, &ShortenedWait),
        RULED(FindNextFileW, 18), WRAPPED(SleepEx, &ShortenedPause)};
    // clang-format on
    // On Windows the system keeps the file rules itself.
    strict = GetProcAddress(GetModuleHandleW(L"ntdll"), "wine_get_version") != nullptr;
    PatchImports(wrappers, sizeof(wrappers) / sizeof(*wrappers));
    return true;
}

const bool kHooksInstalled = InstallHooks();

}  // namespace

// Without the variable there is no roaming folder, so nothing is ever migrated into a real
// player's folder.
std::wstring RoamingAppDataFolder() {
    return Variable(L"MOSSHARBOR_TEST_ROAMING_FOLDER");
}
