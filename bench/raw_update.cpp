// The raw work of one update, as a floor for the updater's end-to-end time:
//   raw-update.exe copy|move|lean <pid> <archive> <install_dir>
// The same listing and extraction with the same tar.exe, started the same way, the backup, the
// file count, a plain copy or move of the update over the installation, the restore (a move of
// the backup back, as the updater restores) and the deletions; no window, no progress, no
// retries. `copy` and `move` back up by copying the launcher settings and the whole of the kept
// folders; `lean` only moves aside the player's files in the kept folders (and the settings) that
// the update ships, flushes every file the tool wrote before it moves, and migrates the settings
// through a flushed temporary copy.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "own_cpu_times.h"
#include "plain_tree.h"
#include "tools/archive_tool.h"
#include "tools/unique_handle.h"

namespace {

constexpr const wchar_t* kPreserved[] = {L"data\\assets\\arrow", L"data\\assets\\arrows",
                                         L"data\\assets\\audio", L"data\\audio"};
constexpr wchar_t kConfig[] = L"\\norvane_launcher.cfg";

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Started exactly as the updater starts it, so the work the tool does is the same on both sides.
int CountToolLines(const wchar_t* arguments, const std::wstring& archive,
                   const wchar_t* workingDirectory) {
    int lines = 0;
    RunArchiveTool(arguments, archive.c_str(), workingDirectory,
                   [&lines](const wchar_t*) { ++lines; });
    return lines;
}

// The archive's single top-level folder, else the extraction folder itself.
std::wstring SingleTopFolder(const std::wstring& extract) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle listing(FindFirstFileW((extract + L"\\*").c_str(), &entry));
    std::wstring only;
    int names = 0;
    if (listing) {
        do {
            if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0) {
                ++names;
                only = extract + L"\\" + entry.cFileName;
            }
        } while (FindNextFileW(listing.Get(), &entry));
    }
    return names == 1 && (GetFileAttributesW(only.c_str()) & FILE_ATTRIBUTE_DIRECTORY) ? only
                                                                                       : extract;
}

// The backup copies, since the installation keeps its files until the install; the restore
// moves, since nothing needs the backup's files afterwards.
void PlacePreserved(const std::wstring& from, const std::wstring& to, bool move) {
    for (const wchar_t* relative : kPreserved) {
        const std::wstring source = from + L"\\" + relative;
        if (!Exists(source)) {
            continue;
        }
        const std::wstring target = to + L"\\" + relative;
        for (size_t slash = target.find(L'\\', to.size() + 1); slash != std::wstring::npos;
             slash = target.find(L'\\', slash + 1)) {
            CreateDirectoryW(target.substr(0, slash).c_str(), nullptr);
        }
        if (move) {
            PlainMoveTree(source, target);
        } else {
            PlainCopyTree(source, target);
        }
    }
}

// The player's files the update would replace, moved aside; nothing else of the kept folders
// is touched.
void SetAsideShipped(const std::wstring& root, const std::wstring& install,
                     const std::wstring& backup) {
    for (const wchar_t* relative : kPreserved) {
        const std::wstring aside = backup + L"\\" + relative;
        for (size_t slash = aside.find(L'\\', backup.size() + 1); slash != std::wstring::npos;
             slash = aside.find(L'\\', slash + 1)) {
            CreateDirectoryW(aside.substr(0, slash).c_str(), nullptr);
        }
        PlainSetAsideShipped(root + L"\\" + relative, install + L"\\" + relative, aside);
    }
    if (Exists(root + kConfig)) {
        MoveFileExW((install + kConfig).c_str(), (backup + kConfig).c_str(), 0);
    }
}

// The per-user settings' path, its folder made; empty without a roaming folder.
std::wstring PerUserConfig() {
    wchar_t roaming[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, roaming))) {
        return {};
    }
    const std::wstring folder = std::wstring(roaming) + L"\\Norvane";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + kConfig;
}

void MigrateConfig(const std::wstring& backup) {
    const std::wstring perUser = PerUserConfig();
    if (!perUser.empty() && !Exists(perUser)) {
        CopyFileW((backup + kConfig).c_str(), perUser.c_str(), FALSE);
    }
}

// A power cut must find either no per-user settings or complete ones: a copy under another
// name, flushed, then renamed into place.
void MigrateConfigDurably(const std::wstring& install) {
    const std::wstring perUser = PerUserConfig();
    if (perUser.empty() || Exists(perUser)) {
        return;
    }
    const std::wstring temporary = perUser + L".tmp";
    if (!CopyFileW((install + kConfig).c_str(), temporary.c_str(), FALSE)) {
        return;
    }
    {
        UniqueFileHandle copy(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        FlushFileBuffers(copy.Get());
    }
    MoveFileExW(temporary.c_str(), perUser.c_str(),
                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

// Prints how long each step took, as "name=ms" pairs on one line, so a slow run shows where,
// then the process's own CPU times.
class StepClock {
  public:
    StepClock() {
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&last_);
    }
    ~StepClock() { std::printf("%s %s\n", line_.c_str(), OwnCpuTimes().c_str()); }
    void Lap(const char* step) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        char text[64];
        std::snprintf(text, sizeof(text), "%s%s=%.0f", line_.empty() ? "" : " ", step,
                      static_cast<double>(now.QuadPart - last_.QuadPart) * 1000.0 /
                          static_cast<double>(frequency_.QuadPart));
        line_ += text;
        last_ = now;
    }

  private:
    LARGE_INTEGER frequency_;
    LARGE_INTEGER last_;
    std::string line_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring floor = argc < 5 ? L"" : argv[1];
    if (floor != L"copy" && floor != L"move" && floor != L"lean") {
        std::fprintf(stderr,
                     "usage: raw-update.exe copy|move|lean <pid> <archive> <install_dir>\n");
        return 2;
    }
    const bool copy = floor == L"copy";
    const bool lean = floor == L"lean";
    const std::wstring pid = argv[2];
    const std::wstring archive = argv[3];
    const std::wstring install = argv[4];
    const std::wstring extract = install + L"\\update\\extract";
    const std::wstring backup = install + L"\\update\\backup_" + pid;

    StepClock clock;
    PlainDeleteTree(extract);
    CreateDirectoryW(extract.c_str(), nullptr);
    CountToolLines(L"-tf -", archive, nullptr);
    clock.Lap("list");
    CountToolLines(L"-xvf -", archive, extract.c_str());
    const std::wstring root = SingleTopFolder(extract);
    clock.Lap("extract");
    if (lean) {  // as durable as the updater: what the tool wrote is on the disk before it moves
        PlainFlushTree(extract);
        clock.Lap("flush");
    }

    PlainDeleteTree(backup);
    CreateDirectoryW(backup.c_str(), nullptr);
    if (lean) {
        SetAsideShipped(root, install, backup);
    } else {
        CopyFileW((install + kConfig).c_str(), (backup + kConfig).c_str(), FALSE);
        PlacePreserved(install, backup, false);
    }
    clock.Lap("backup");

    PlainCountFiles(root);
    clock.Lap("count");
    if (copy) {
        PlainCopyTree(root, install);
    } else {
        PlainMoveTree(root, install);
    }
    clock.Lap("install");

    PlacePreserved(backup, install, true);
    if (lean) {
        MoveFileExW((backup + kConfig).c_str(), (install + kConfig).c_str(),
                    MOVEFILE_REPLACE_EXISTING);
        MigrateConfigDurably(install);
    } else {
        MigrateConfig(backup);
    }
    clock.Lap("restore");

    DeleteFileW(archive.c_str());
    PlainDeleteTree(extract);
    PlainDeleteTree(backup);
    MoveFileExW((install + L"\\norvane_client_pending_version.txt").c_str(),
                (install + L"\\norvane_version.txt").c_str(),
                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    clock.Lap("delete");
    return 0;
}
