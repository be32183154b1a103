// Linked into the test build of the updater in place of the shipping per-user folder lookup.
// Everything here is driven by environment variables that the tests set.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "display/progress_state.h"
#include "tools/unique_handle.h"
#include "update/roaming_folder.h"

namespace {

std::wstring Variable(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return std::wstring(value, length < MAX_PATH ? length : 0);
}

constexpr size_t kWrapped = 26;
void* originals[kWrapped];
std::wstring names[kWrapped];
// The calls this process made, of each wrapped function. Once the worker runs it makes them all,
// so neither they nor the power cut's notes need a lock.
int calls[kWrapped];
bool strict = false;  // under Wine, whose file rules are laxer than Windows'

// MOSSHARBOR_TEST_PROGRESS_LOG: every repaint request is appended as "percent failed status",
// one line each, in UTF-16.
// MOSSHARBOR_TEST_HOLD_STATUS / _PERCENT: the worker stops once both are reached, creates the
// file "<log>.held" and waits until "<log>.release" exists, so a test can press keys, hold files
// or kill the process exactly there instead of relying on timing. The calls made so far go to
// "<log>.calls" as "Function count" lines, a line for each wrapped function.
// MOSSHARBOR_TEST_EXIT_ON_FAILURE: a failure ends the process with exit code 3 instead of waiting
// for an Esc that a script cannot press.
const std::wstring progressLog =
    Variable(L"MOSSHARBOR_TEST_PROGRESS_LOG");  // the stem of every note
void OnRepaintRequest(const ProgressState& state, void*) {
    static const std::wstring holdStatus = Variable(L"MOSSHARBOR_TEST_HOLD_STATUS");
    static const int holdPercent = _wtoi(Variable(L"MOSSHARBOR_TEST_HOLD_PERCENT").c_str());
    if (FILE* file = _wfopen(progressLog.c_str(), L"ab")) {  // binary: the characters as they are
        fwprintf(file, L"%d %d %ls\n", state.percent.load(), state.failed.load(), state.statusText);
        fclose(file);
    }
    if (FILE* file =
            progressLog.empty() ? nullptr : _wfopen((progressLog + L".calls").c_str(), L"wb")) {
        for (size_t i = 0; i < kWrapped; ++i) {
            fprintf(file, "%ls %d\n", names[i].c_str(), calls[i]);
        }
        fclose(file);
    }
    static const bool exitOnFailure = !Variable(L"MOSSHARBOR_TEST_EXIT_ON_FAILURE").empty();
    if (exitOnFailure && state.failed) {
        ExitProcess(3);
    }
    if (holdStatus.empty() || holdStatus != state.statusText || state.percent < holdPercent) {
        return;
    }
    if (FILE* marker = _wfopen((progressLog + L".held").c_str(), L"w")) {
        fclose(marker);
    }
    while (GetFileAttributesW((progressLog + L".release").c_str()) == INVALID_FILE_ATTRIBUTES) {
        Sleep(20);
    }
}

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

// MOSSHARBOR_TEST_FAIL = "Function error calls part-of-a-path": the calls of that function that
// name a path holding the part (any call, without a part) fail with that error. The calls are "#N"
// for the N-th such call alone, "#N+" for it and every one after, as a lasting hold, else a mask: 0
// for every one, else those whose bits are set, the lowest for the first such call.
struct Injection {
    std::wstring function, part;
    DWORD error = 0;
    bool nthAlone = false, onward = false;
    unsigned long long calls = 0, seen = 0;
    bool Chosen() {
        ++seen;
        return nthAlone ? seen == calls || (onward && seen > calls)
                        : calls == 0 || (seen <= 64 && calls >> (seen - 1) & 1);
    }
};
Injection ReadInjection() {
    Injection injection;
    std::wistringstream fields(Variable(L"MOSSHARBOR_TEST_FAIL"));
    fields >> injection.function >> injection.error >> std::ws;
    injection.nthAlone = fields.peek() == L'#' && fields.get();
    fields >> injection.calls;
    injection.onward = fields.peek() == L'+' && fields.get();
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
// MOSSHARBOR_TEST_NO_HARD_LINKS: the game drive is exFAT or FAT32, which hold no hard links. Wine
// says NTFS without them, though it makes them: there the drive holds them unless this is set.
// MOSSHARBOR_TEST_CLUSTER_BYTES: its clusters are that large, as exFAT's 128 KiB on a big drive.
const bool noHardLinks = !Variable(L"MOSSHARBOR_TEST_NO_HARD_LINKS").empty();
const DWORD clusterBytes = _wtoi(Variable(L"MOSSHARBOR_TEST_CLUSTER_BYTES").c_str());

// The power cut's model. Windows writes file data lazily, names and lengths first: every file
// written and not flushed since is noted by its path, as the updater names it (the \\?\ form below
// the installation), and so is the path of each file handle opened.
std::set<std::wstring> unflushed;
std::map<HANDLE, std::wstring> opened;
// A rename moves no data: a file, or every file below a folder, keeps its note under the new name,
// and a file it replaces takes its data's fate with it.
void Rename(const std::wstring& from, const std::wstring& to) {
    unflushed.erase(to);
    for (auto it = unflushed.lower_bound(from); it != unflushed.end() && it->starts_with(from);) {
        const bool below = it->size() == from.size() || (*it)[from.size()] == L'\\';
        it = below ? (unflushed.insert(to + it->substr(from.size())), unflushed.erase(it))
                   : std::next(it);
    }
}
// The archive tool writes in its own process, through the cache: when it has ended, every file
// below the folder it ran in is noted, named as the updater names it.
std::wstring toolFolder;
void NoteToolsFiles(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const UniqueFindHandle listing(reinterpret_cast<decltype(&FindFirstFileW)>(originals[11])(
        (folder + L"\\*").c_str(), &found));
    for (BOOL more = listing ? TRUE : FALSE; more;
         more = reinterpret_cast<decltype(&FindNextFileW)>(originals[18])(listing.Get(), &found)) {
        const std::wstring path = folder + L"\\" + found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            unflushed.insert(path);
        } else if (found.cFileName[0] != L'.' ||
                   found.cFileName[1 + (found.cFileName[1] == L'.')]) {
            NoteToolsFiles(path);
        }
    }
}
// At the cut each noted file that is still there reads as zeros of its length, written with the
// original functions: the wrappers would count them, and a read-only copy would refuse them.
// "<log>.lost" tells that there was any: else the cut leaves what a kill there would.
void LoseUnflushedData() {
    if (FILE* note =
            unflushed.empty() ? nullptr : _wfopen((progressLog + L".lost").c_str(), L"w")) {
        fclose(note);
    }
    const auto attributesOf = reinterpret_cast<decltype(&GetFileAttributesW)>(originals[8]);
    const auto setAttributes = reinterpret_cast<decltype(&SetFileAttributesW)>(originals[10]);
    for (const std::wstring& path : unflushed) {
        const DWORD attributes = attributesOf(path.c_str());
        setAttributes(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        const UniqueFileHandle file(reinterpret_cast<decltype(&CreateFileW)>(originals[1])(
            path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, 0, nullptr));
        const std::string zeros(file ? GetFileSize(file.Get(), nullptr) : 0, '\0');
        DWORD written = 0;
        WriteFile(file.Get(), zeros.data(), static_cast<DWORD>(zeros.size()), &written, nullptr);
        setAttributes(path.c_str(), attributes);
    }
}

// "<log>.tool": what the archive tool printed, how each start failed and how each run ended, so
// that a run which broke a promise tells what the tool said.
void NoteTool(const char* text, size_t length) {
    if (FILE* file =
            progressLog.empty() ? nullptr : _wfopen((progressLog + L".tool").c_str(), L"ab")) {
        fwrite(text, 1, length, file);
        fclose(file);
    }
}
void NoteTool(const std::string& line) {
    NoteTool(line.data(), line.size());
}
BOOL WINAPI ReadToolOutput(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* at) {
    const BOOL result =
        reinterpret_cast<decltype(&ReadFile)>(originals[24])(file, buffer, size, read, at);
    NoteTool(static_cast<const char*>(buffer), result && read ? *read : 0);
    return result;
}

// MOSSHARBOR_TEST_KILL / _POWER_CUT = "Function N": right before the N-th call of that function
// ("* N": of all the wrapped ones together) the process is killed (exit code 9), or the power
// fails (10).
void Reach(int slot) {
    static const std::wstring kill = Variable(L"MOSSHARBOR_TEST_KILL"),
                              cut = Variable(L"MOSSHARBOR_TEST_POWER_CUT");
    static int all = 0;
    const std::wstring own = names[slot] + L" " + std::to_wstring(++calls[slot]),
                       any = L"* " + std::to_wstring(++all);
    if (cut == own || cut == any) {
        LoseUnflushedData();
        TerminateProcess(GetCurrentProcess(), 10);
    }
    if (kill == own || kill == any) {
        TerminateProcess(GetCurrentProcess(), 9);
    }
}

// What a call that succeeded changes in the model, or in what it reports.
template <int Slot, typename R, typename Arguments>
R After(R result, const Arguments& argument) {
    if constexpr (Slot == 1) {  // CreateFileW, unless it writes through
        opened[result] = std::get<0>(argument);
        if (std::get<1>(argument) & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA) &&
            !(std::get<5>(argument) & (FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING))) {
            unflushed.insert(opened[result]);
        }
    } else if constexpr (Slot == 3) {  // CopyFileW
        unflushed.insert(std::get<1>(argument));
    } else if constexpr (Slot == 4 || Slot == 5) {  // MoveFileExW, even write-through, MoveFileW
        Rename(std::get<0>(argument), std::get<1>(argument));
    } else if constexpr (Slot == 6) {  // DeleteFileW
        unflushed.erase(std::get<0>(argument));
    } else if constexpr (Slot ==
                         14) {  // CreateProcessW: Windows shows a console's window, Wine not
        toolFolder = std::get<7>(argument) ? L"\\\\?\\" + std::wstring(std::get<7>(argument)) : L"";
        if (strict && !(std::get<5>(argument) & (CREATE_NO_WINDOW | DETACHED_PROCESS))) {
            CreateWindowExW(0, L"STATIC", L"a console", WS_POPUP | WS_VISIBLE, 0, 0, 9, 9, nullptr,
                            nullptr, nullptr, nullptr);
        }
    } else if constexpr (Slot == 15) {  // GetExitCodeProcess: of the tool, once it has ended
        NoteTool("\n[exit code " + std::to_string(*std::get<1>(argument)) + "]\n");
        if (!toolFolder.empty() && *std::get<1>(argument) != STILL_ACTIVE) {
            NoteToolsFiles(std::exchange(toolFolder, L""));
        }
    } else if constexpr (Slot == 20) {  // FlushFileBuffers
        unflushed.erase(opened[std::get<0>(argument)]);
    } else if constexpr (Slot == 8) {  // GetFileAttributesW
        return IsPlainFolder(result) ? result | FILE_ATTRIBUTE_REPARSE_POINT : result;
    } else if constexpr (Slot == 11 || Slot == 18) {  // the listing's found entry
        WIN32_FIND_DATAW& found = *std::get<1>(argument);
        if (IsPlainFolder(found.dwFileAttributes)) {
            found.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
            found.dwReserved0 = IO_REPARSE_TAG_CLOUD_6;
        }
    } else if constexpr (Slot == 21) {  // GetVolumeInformationW: Wine's NTFS lacks the flag
        if (DWORD* flags = std::get<5>(argument)) {
            *flags = noHardLinks ? *flags & ~FILE_SUPPORTS_HARD_LINKS
                                 : *flags | (strict ? FILE_SUPPORTS_HARD_LINKS : 0);
        }
    } else if constexpr (Slot == 22) {  // GetDiskFreeSpaceW: sectors per cluster
        if (clusterBytes && std::get<1>(argument) && std::get<2>(argument)) {
            *std::get<1>(argument) = clusterBytes / *std::get<2>(argument);
        }
    }
    return result;
}

// Slot: where the original is kept. Limit: the path length refused. Replaces: the second argument
// names a file the call replaces.
template <typename Function, int Slot, size_t Limit = MAX_PATH, bool Replaces = false>
struct Strict;
template <typename R, typename... A, int Slot, size_t Limit, bool Replaces>
struct Strict<R(WINAPI*)(A...), Slot, Limit, Replaces> {
    static R WINAPI Call(A... arguments) {
        static Injection injection = ReadInjection();
        Reach(Slot);
        const auto argument = std::tie(arguments...);
        DWORD error =
            strict && (TooLong(AsPath(arguments), Limit) || ...) ? ERROR_FILENAME_EXCED_RANGE : 0;
        if constexpr (Replaces) {
            error = error || !strict ? error : ReplaceRefused(std::get<1>(argument));
        }
        if constexpr (Slot == 1) {  // CreateFileW, which overwrites when it creates anew
            const auto disposition = std::get<4>(argument);
            error = error || !strict ||
                            (disposition != CREATE_ALWAYS && disposition != TRUNCATE_EXISTING)
                        ? error
                        : ReplaceRefused(std::get<0>(argument),
                                         std::get<5>(argument) &
                                             (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
        }
        if constexpr (Slot == 14) {  // a child gets no standard handle it may not inherit
            STARTUPINFOW* startup = std::get<8>(argument);
            if (strict && !std::get<4>(argument) && (startup->dwFlags & STARTF_USESTDHANDLES)) {
                startup->hStdInput = startup->hStdOutput = startup->hStdError = nullptr;
            }
        }
        if (injection.function == names[Slot] &&
            (injection.part.empty() || (Names(AsPath(arguments), injection.part) || ...)) &&
            injection.Chosen() && !error) {
            error = injection.error;
        }
        // FALSE, CreateThread's or OpenProcess's null handle, INVALID_HANDLE_VALUE or
        // INVALID_FILE_ATTRIBUTES
        const R failed = std::is_same_v<R, BOOL> ||
                                 std::is_same_v<R(WINAPI*)(A...), decltype(&CreateThread)> ||
                                 std::is_same_v<R(WINAPI*)(A...), decltype(&OpenProcess)>
                             ? R()
                             : R(intptr_t(-1));
        if (error == ERROR_SUCCESS) {
            R result = reinterpret_cast<R(WINAPI*)(A...)>(originals[Slot])(arguments...);
            // Under load Wine's new process now and then ends before it has run a line of the
            // program, and CreateProcessW says ERROR_INTERNAL_ERROR (the new process "did not
            // succeed" with exit code 0, in ntdll's NtCreateUserProcess), which Windows never
            // gives for a program that is there: nothing of the tool ran, so it is started anew,
            // as the test runner starts the updater.
            for (int again = 0; Slot == 14 && result == failed && again < 5; ++again) {
                const DWORD own = GetLastError();
                NoteTool("\n[start failed: " + std::to_string(own) + "]\n");
                if (!strict || own != ERROR_INTERNAL_ERROR) {
                    SetLastError(own);
                    break;
                }
                result = reinterpret_cast<R(WINAPI*)(A...)>(originals[Slot])(arguments...);
            }
            return result == failed ? result : After<Slot>(result, argument);
        }
        if constexpr (Slot == 14) {
            NoteTool("\n[start refused: " + std::to_string(error) + "]\n");
        }
        SetLastError(error);
        return failed;
    }
};

// MOSSHARBOR_TEST_SYSTEM_FOLDER stands in for the system folder, to take its tar.exe away.
UINT WINAPI TestSystemDirectory(LPWSTR buffer, UINT size) {
    const UINT length = GetEnvironmentVariableW(L"MOSSHARBOR_TEST_SYSTEM_FOLDER", buffer, size);
    return length ? length : Strict<decltype(&GetSystemDirectoryW), 0>::Call(buffer, size);
}

// Finite waits last a thousandth of their time here, so that a limit of minutes where there should
// be none, on the client or the archive tool, shows within a test's seconds.
DWORD WINAPI ShortenedWait(HANDLE handle, DWORD ms) {
    return Strict<decltype(&WaitForSingleObject), 17>::Call(handle,
                                                            ms == INFINITE ? INFINITE : ms / 1000);
}

// So do the pauses between attempts at a held file; their nominal sum goes to "<log>.paused", so
// that a test can hold thirty files and still tell each walk's budget.
DWORD WINAPI ShortenedPause(DWORD ms, BOOL alertable) {
    static const std::wstring sum = progressLog + L".paused";
    static DWORD pausedMs = 0;
    pausedMs += ms;
    if (FILE* file = _wfopen(sum.c_str(), L"w")) {
        fprintf(file, "%lu", pausedMs);
        fclose(file);
    }
    return Strict<decltype(&SleepEx), 19>::Call(ms / 1000, alertable);
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
            // A function this exe does not import is not in the table: nothing to point.
            *slot = originals[i] && *slot == originals[i] ? wrappers[i].second : *slot;
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
        RULED(RemoveDirectoryW, 7), RULED(GetFileAttributesW, 8),
        RULED(GetFileAttributesExW, 9), RULED(SetFileAttributesW, 10),
        RULED(FindFirstFileW, 11), RULED(GetDiskFreeSpaceExW, 12),
        RULED(CreatePipe, 13), RULED(CreateProcessW, 14), RULED(GetExitCodeProcess, 15),
        RULED(CreateThread, 16), WRAPPED(WaitForSingleObject, &ShortenedWait),
        RULED(FindNextFileW, 18), WRAPPED(SleepEx, &ShortenedPause),
        RULED(FlushFileBuffers, 20), RULED(GetVolumeInformationW, 21),
        RULED(GetDiskFreeSpaceW, 22), RULED(OpenProcess, 23),
        WRAPPED(ReadFile, &ReadToolOutput), RULED(AssignProcessToJobObject, 25)};
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
