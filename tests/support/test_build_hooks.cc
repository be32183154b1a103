// Linked into the test build of the updater in place of the shipping per-user folder lookup.
// Everything here is driven by environment variables that the tests set.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "display/progress_state.h"
#include "update/roaming_folder.h"

namespace {

std::wstring Variable(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(value);
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// MOSSHARBOR_TEST_PROGRESS_LOG: every repaint request is appended as "percent failed status",
// one line each, in UTF-16.
// MOSSHARBOR_TEST_HOLD_STATUS / _PERCENT: the worker stops once both are reached, creates the
// file "<log>.held" and waits until "<log>.release" exists, so a test can press keys or kill the
// process exactly there instead of relying on timing.
void OnRepaintRequest(const ProgressState& state, void*) {
    static const std::wstring log = Variable(L"MOSSHARBOR_TEST_PROGRESS_LOG");
    static const std::wstring holdStatus = Variable(L"MOSSHARBOR_TEST_HOLD_STATUS");
    static const int holdPercent = _wtoi(Variable(L"MOSSHARBOR_TEST_HOLD_PERCENT").c_str());
    if (FILE* file = _wfopen(log.c_str(), L"ab")) {
        const std::wstring line = std::to_wstring(state.percent.load()) +
                                  (state.failed.load() ? L" 1 " : L" 0 ") + state.statusText +
                                  L"\n";
        fwrite(line.data(), sizeof(wchar_t), line.size(), file);
        fclose(file);
    }
    if (holdStatus.empty() || holdStatus != state.statusText ||
        state.percent.load() < holdPercent || Exists(log + L".held")) {
        return;
    }
    if (FILE* marker = _wfopen((log + L".held").c_str(), L"w")) {
        fclose(marker);
    }
    while (!Exists(log + L".release")) {
        Sleep(20);
    }
}

// Windows' own file rules, which Wine does not keep: a path of 260 characters or more (248 for a
// new folder) works only in the \\?\ form, and a read-only file cannot be replaced.
bool Refused(const wchar_t* path, size_t limit = MAX_PATH) {
    if (path == nullptr || wcsncmp(path, L"\\\\?\\", 4) == 0 || wcslen(path) < limit) {
        return false;
    }
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return true;
}
#define REAL(name)                     \
    reinterpret_cast<decltype(&name)>( \
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), #name)))

bool IsReadOnlyFile(const wchar_t* path) {
    const DWORD attributes = REAL(GetFileAttributesW)(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !(attributes & FILE_ATTRIBUTE_READONLY)) {
        return false;
    }
    SetLastError(ERROR_ACCESS_DENIED);
    return true;
}
HANDLE WINAPI StrictCreateFileW(LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c,
                                DWORD f, HANDLE t) {
    return Refused(p) ? INVALID_HANDLE_VALUE : REAL(CreateFileW)(p, a, s, sa, c, f, t);
}
BOOL WINAPI StrictCreateDirectoryW(LPCWSTR p, LPSECURITY_ATTRIBUTES sa) {
    return !Refused(p, 248) && REAL(CreateDirectoryW)(p, sa);
}
BOOL WINAPI StrictCopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
    return !Refused(from) && !Refused(to) && !IsReadOnlyFile(to) &&
           REAL(CopyFileW)(from, to, failIfExists);
}
BOOL WINAPI StrictMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    return !Refused(from) && !Refused(to) &&
           !((flags & MOVEFILE_REPLACE_EXISTING) && IsReadOnlyFile(to)) &&
           REAL(MoveFileExW)(from, to, flags);
}
BOOL WINAPI StrictMoveFileW(LPCWSTR from, LPCWSTR to) {
    return !Refused(from) && !Refused(to) && REAL(MoveFileW)(from, to);
}
BOOL WINAPI StrictDeleteFileW(LPCWSTR p) {
    return !Refused(p) && REAL(DeleteFileW)(p);
}
BOOL WINAPI StrictRemoveDirectoryW(LPCWSTR p) {
    return !Refused(p) && REAL(RemoveDirectoryW)(p);
}
DWORD WINAPI StrictGetFileAttributesW(LPCWSTR p) {
    return Refused(p) ? INVALID_FILE_ATTRIBUTES : REAL(GetFileAttributesW)(p);
}
BOOL WINAPI StrictGetFileAttributesExW(LPCWSTR p, GET_FILEEX_INFO_LEVELS level, LPVOID data) {
    return !Refused(p) && REAL(GetFileAttributesExW)(p, level, data);
}
BOOL WINAPI StrictSetFileAttributesW(LPCWSTR p, DWORD attributes) {
    return !Refused(p) && REAL(SetFileAttributesW)(p, attributes);
}
HANDLE WINAPI StrictFindFirstFileW(LPCWSTR p, LPWIN32_FIND_DATAW data) {
    return Refused(p) ? INVALID_HANDLE_VALUE : REAL(FindFirstFileW)(p, data);
}
BOOL WINAPI StrictGetDiskFreeSpaceExW(LPCWSTR p, PULARGE_INTEGER a, PULARGE_INTEGER b,
                                      PULARGE_INTEGER c) {
    return !Refused(p) && REAL(GetDiskFreeSpaceExW)(p, a, b, c);
}
// MOSSHARBOR_TEST_SYSTEM_FOLDER stands in for the system folder, to take its tar.exe away.
UINT WINAPI TestGetSystemDirectoryW(LPWSTR buffer, UINT size) {
    const std::wstring folder = Variable(L"MOSSHARBOR_TEST_SYSTEM_FOLDER");
    if (folder.empty()) {
        return REAL(GetSystemDirectoryW)(buffer, size);
    }
    wcsncpy_s(buffer, size, folder.c_str(), _TRUNCATE);
    return static_cast<UINT>(folder.size());
}

struct Wrapper {
    const char* name;
    void* function;
};

// Points this exe's own imports of `wrappers` at them; every call the product makes goes there.
template <size_t N>
void PatchImports(const Wrapper (&wrappers)[N]) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); dll->Name; ++dll) {
        auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++slot) {
            for (const Wrapper& wrapper : wrappers) {
                if (!IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) &&
                    strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)
                               ->Name,
                           wrapper.name) == 0) {
                    DWORD protection = 0;
                    VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
                    slot->u1.Function = reinterpret_cast<ULONG_PTR>(wrapper.function);
                    VirtualProtect(slot, sizeof(*slot), protection, &protection);
                }
            }
        }
    }
}

#define WRAP(prefix, name) \
    { #name, reinterpret_cast < void*>(&prefix##name) }
bool InstallHooks() {
    Progress().observer = OnRepaintRequest;
    const Wrapper everywhere[] = {WRAP(Test, GetSystemDirectoryW)};
    PatchImports(everywhere);
    // On Windows the system keeps these rules itself.
    if (GetProcAddress(GetModuleHandleW(L"ntdll"), "wine_get_version") != nullptr) {
        const Wrapper strict[] = {
            WRAP(Strict, CreateFileW),
            WRAP(Strict, CreateDirectoryW),
            WRAP(Strict, CopyFileW),
            WRAP(Strict, MoveFileExW),
            WRAP(Strict, MoveFileW),
            WRAP(Strict, DeleteFileW),
            WRAP(Strict, RemoveDirectoryW),
            WRAP(Strict, GetFileAttributesW),
            WRAP(Strict, GetFileAttributesExW),
            WRAP(Strict, SetFileAttributesW),
            WRAP(Strict, FindFirstFileW),
            WRAP(Strict, GetDiskFreeSpaceExW),
        };
        PatchImports(strict);
    }
    return true;
}

const bool kHooksInstalled = InstallHooks();

}  // namespace

// Without the variable there is no roaming folder, so nothing is ever migrated into a real
// player's folder.
std::wstring RoamingAppDataFolder() {
    return Variable(L"MOSSHARBOR_TEST_ROAMING_FOLDER");
}
