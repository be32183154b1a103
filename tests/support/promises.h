// The updater's promises as checks any run can be held to: over the installation, its working
// folders, the archive and the per-user folder, against the installation as the player left it
// and the update's files. Each broken one is named "promise path: what was found; ".
#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "support/harness.h"
#include "tools/directory_listing.h"

// The oracle's own words for what the updater keeps and says, never the product's: a fault that
// changes them there must not change them here too.
constexpr const wchar_t* kKeptFolders[] = {L"data\\assets\\arrow", L"data\\assets\\arrows",
                                           L"data\\assets\\audio", L"data\\audio"};
constexpr wchar_t kConfig[] = L"norvane_launcher.cfg";
constexpr wchar_t kExtractionFailure[] = L"Extraction failed. The archive may be corrupted.";
constexpr wchar_t kDiskFull[] = L"Not enough disk space to unpack the update.";
constexpr wchar_t kBackupFailure[] = L"Failed to back up settings.";
constexpr wchar_t kIncompleteInstall[] =
    L"Some files could not be installed. Close the game and try again.";
// The statuses before the install: a failure there must leave the installation as it was.
constexpr const wchar_t* kBeforeInstall[] = {L"Waiting for client to close...",
                                             L"Extracting update...", L"Backing up settings..."};

struct NoCase {  // as Windows compares names
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    }
};
struct File {
    std::string content;
    DWORD attributes = 0;  // those that protect it; a link is FILE_ATTRIBUTE_REPARSE_POINT
    bool operator==(const File&) const = default;
};
// Files by path below a root; folders are implied, links are not entered.
using Tree = std::map<std::wstring, File, NoCase>;
constexpr DWORD kProtected =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
const File kMissing{"<missing>"};  // ReadTextFile's word for it

// `folders`: each folder too, an empty one as well, with FILE_ATTRIBUTE_DIRECTORY.
inline Tree Take(const std::wstring& root, const std::wstring& below = {}, Tree tree = {},
                 bool folders = false) {
    ForEachEntry(L"\\\\?\\" + root + below, [&](const ListedEntry& entry) {
        const std::wstring path = below + L"\\" + entry.name;
        if (entry.kind == EntryKind::kDirectory) {
            if (folders) {
                tree[path.substr(1)] = {{},
                                        FILE_ATTRIBUTE_DIRECTORY | (entry.attributes & kProtected)};
            }
            tree = Take(root, path, std::move(tree), folders);
        } else {
            tree[path.substr(1)] =
                entry.kind == EntryKind::kFile
                    ? File{ReadTextFile(L"\\\\?\\" + root + path), entry.attributes & kProtected}
                    : File{"<link>", FILE_ATTRIBUTE_REPARSE_POINT};
        }
    });
    return tree;
}
// Writes the tree below `root`, in the extended form, folders too; links are made apart (see Link).
inline void Plant(const std::wstring& root, const Tree& tree) {
    const std::wstring base = (root.starts_with(L"\\\\?\\") ? L"" : L"\\\\?\\") + root +
                              (root.ends_with(L'\\') ? L"" : L"\\");
    for (const auto& [path, file] : tree) {
        if (file.attributes == FILE_ATTRIBUTE_REPARSE_POINT) {
            continue;
        }
        if (file.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            fs::create_directories(base + path);
        } else {
            WriteTextFile(base + path, file.content);
        }
        SetFileAttributesW((base + path).c_str(), file.attributes & kProtected);
    }
}
inline File Get(const Tree& tree, const std::wstring& path) {
    return tree.contains(path) ? tree.at(path) : kMissing;
}
inline std::string Utf8(const std::wstring& text) {
    std::string utf8(text.size() * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), utf8.data(),
                                    int(utf8.size()), nullptr, nullptr));
    return utf8;
}
// Below a link of `tree`, or below one of the folders whose files are the player's.
inline bool Below(const std::wstring& path, const std::wstring& folder) {
    return path.size() > folder.size() && path[folder.size()] == L'\\' &&
           _wcsnicmp(path.c_str(), folder.c_str(), folder.size()) == 0;
}
inline bool BehindLink(const Tree& tree, const std::wstring& path) {
    return std::any_of(tree.begin(), tree.end(), [&](const auto& entry) {
        return entry.second.attributes == FILE_ATTRIBUTE_REPARSE_POINT && Below(path, entry.first);
    });
}
inline bool Kept(const std::wstring& path) {
    return std::any_of(std::begin(kKeptFolders), std::end(kKeptFolders),
                       [&](const wchar_t* folder) { return Below(path, folder); });
}
// In the way of the update's shape (below one of its files, or where it brings a folder), and the
// update's own is in its place.
inline bool Replaced(const Tree& update, const Tree& now, const std::wstring& path) {
    return std::any_of(update.begin(), update.end(), [&](const auto& shipped) {
        return (Below(path, shipped.first) || Below(shipped.first, path)) &&
               Get(now, shipped.first).content == shipped.second.content;
    });
}

enum class Ended { kSuccess, kFailure, kCut };  // kCut: killed, or the power cut

struct Promises {
    std::wstring install{}, archive{}, roaming{};  // no per-user folder when `roaming` is empty
    Tree before{}, update{};  // the installation as the player left it (not its update folder)
    std::set<std::wstring, NoCase> folders{};      // the player's, and those the update brings
    std::string roamingBefore = kMissing.content;  // the per-user launcher settings
    std::wstring outside{};  // a folder of the player's behind a link in the installation
    Tree outsideBefore{};
    std::wstring top = L"Norvane 1.2";  // the update's top folder, as extracted

    // Taken before the first run: the installation as the player left it.
    void Take(const std::wstring& installDir, const Tree& updateFiles) {
        install = installDir;
        before = ::Take(install, {}, {}, true);
        update = updateFiles;
        for (auto entry = before.begin(); entry != before.end();) {
            const bool folder = entry->second.attributes & FILE_ATTRIBUTE_DIRECTORY;
            if (folder) {
                folders.insert(entry->first);
            }
            entry =
                folder || Below(entry->first, L"update") ? before.erase(entry) : std::next(entry);
        }
        for (const auto& [path, file] : update) {
            for (size_t at = path.find(L'\\'); at != npos; at = path.find(L'\\', at + 1)) {
                folders.insert(path.substr(0, at));
            }
        }
        roamingBefore = ReadTextFile(roaming + L"\\Norvane\\" + kConfig);
        outsideBefore = outside.empty() ? Tree{} : ::Take(outside);
    }

    // A backup of an earlier run not yet put back, which only a later run's merge restores.
    bool Interrupted() const {
        bool found = false;
        ForEachEntry(L"\\\\?\\" + install + L"\\update", [&](const ListedEntry& entry) {
            found =
                found || (entry.name.starts_with(L"backup_") &&
                          !PathExists(install + L"\\update\\" + entry.name + L"\\restored.mark"));
        });
        return found;
    }
    bool Recorded() const {
        return ReadTextFile(install + L"\\norvane_version.txt") !=
               Get(before, L"norvane_version.txt").content;
    }

    // After a run that ended so. `leftovers`: a program still running, or a deletion refused, may
    // keep working files, which a later run removes. `undone`: the run failed before the install
    // with nothing refused for good and no earlier run's backup to merge, so it had to put back
    // all it set aside.
    std::string Broken(Ended ended, bool leftovers = false, bool undone = false) const {
        std::ostringstream broken;
        Tree now = ::Take(install, {}, {}, true);
        const std::wstring pending = L"norvane_client_pending_version.txt",
                           version = L"norvane_version.txt", config = kConfig;
        const bool recorded = Get(now, version) != Get(before, version);
        // Complete: reported so, or recorded by a run cut short after it.
        const bool complete = ended == Ended::kSuccess || (ended == Ended::kCut && recorded);
        const int promise = complete ? 1 : 2;
        const auto say = [&](int number, const std::wstring& path, const std::string& found) {
            const bool zeros = found.find('\0') != npos;  // as a power cut leaves unflushed data
            broken << number << ' ' << Utf8(path) << ": "
                   << (zeros ? std::to_string(found.size()) + " zeros" : found.substr(0, 40))
                   << "; ";
        };
        std::map<std::wstring, Tree> working;  // the files of each working folder
        ForEachEntry(L"\\\\?\\" + install + L"\\update", [&](const ListedEntry& entry) {
            working[entry.name] = ::Take(install + L"\\update\\" + entry.name);
        });
        // In a backup not yet restored, which a later run merges back; never after a failure that
        // had to undo itself.
        const auto inBackup = [&](const std::wstring& path, const File& file) {
            return !undone && std::any_of(working.begin(), working.end(), [&](const auto& folder) {
                return folder.first.starts_with(L"backup_") &&
                       !folder.second.contains(L"restored.mark") &&
                       Get(folder.second, path) == file;
            });
        };
        for (auto entry = now.begin(); entry != now.end();) {  // no folder the run should not make
            const bool folder = entry->second.attributes & FILE_ATTRIBUTE_DIRECTORY;
            if (folder && complete && ended != Ended::kCut && !folders.contains(entry->first) &&
                entry->first != L"update" && !Below(entry->first, L"update")) {
                say(1, entry->first, "made");
            }
            entry = folder || Below(entry->first, L"update") ? now.erase(entry) : std::next(entry);
        }
        if (undone && !leftovers && working.contains(L"extract") &&
            std::any_of(working.at(L"extract").begin(), working.at(L"extract").end(),
                        [&](const auto& entry) { return Below(entry.first, top); })) {
            say(2, L"update\\extract\\" + top, "left");
        }
        std::set<std::wstring, NoCase> paths;
        for (const Tree* tree : {&before, &update, &std::as_const(now)}) {
            for (const auto& [path, file] : *tree) {
                paths.insert(path);
            }
        }
        const File newVersion =
            update.contains(pending) ? update.at(pending) : Get(before, version);
        if (ended == Ended::kFailure && recorded) {
            say(2, version, Get(now, version).content);
        }
        if (complete &&
            (Get(now, version).content != newVersion.content || now.contains(pending))) {
            say(1, version, Get(now, version).content);
        }
        for (const std::wstring& path : paths) {
            const File old = Get(before, path), shipped = Get(update, path), is = Get(now, path);
            // What lies behind a link is the outside folder's. A name of neither the player's nor
            // the update's is the updater's own (a probe, a temporary name): a kill, a program
            // still running or a deletion refused may leave it for a later run; the test client
            // records its start.
            const bool ours = !before.contains(path) && !update.contains(path);
            if (path == pending || path == version || BehindLink(before, path) ||
                (ours && (ended == Ended::kCut || leftovers || path == L"client_started.txt"))) {
                continue;
            }
            if (before.contains(path) && Kept(path)) {  // the player's: it wins over the update's
                if (is != old && (complete || !inBackup(path, old))) {
                    say(promise, path, is.content);
                }
                continue;
            }
            const bool shipping = update.contains(path);
            // A game file in the way of the update's shape goes once the update's own is there.
            const bool kept =
                (is == kMissing && Replaced(update, now, path)) ||
                (complete
                     ? is.content == (shipping ? shipped : old).content && (shipping || is == old)
                     : is == old || (shipping && !undone && is.content == shipped.content) ||
                           inBackup(path, old) ||
                           (ended == Ended::kCut && is.content == old.content) ||
                           (ended == Ended::kCut && shipping && is == kMissing));
            if (!kept) {
                say(promise, path, is.content);
            }
        }
        // The player's launcher settings: migrated once, kept in a backup if the per-user folder
        // refused them, or still where they were.
        const std::string perUser =
            roaming.empty() ? kMissing.content : ReadTextFile(roaming + L"\\Norvane\\" + config);
        const std::string mine = Get(before, config).content;
        const bool due = before.contains(config) && roamingBefore == kMissing.content;
        // Without the player's own, the installation's may be migrated: a later run would.
        if (due ? perUser != mine && (perUser != kMissing.content ||
                                      !(inBackup(config, Get(before, config)) ||
                                        (!complete && Get(now, config).content == mine)))
                : perUser != roamingBefore &&
                      (before.contains(config) || perUser != Get(update, config).content)) {
            say(promise, L"per-user " + config, perUser);
        }
        for (const auto& [path, file] : outside.empty() ? Tree{} : ::Take(outside)) {
            if (outsideBefore.contains(path) && file != outsideBefore.at(path)) {
                say(promise, outside + L"\\" + path, file.content);
            }
        }
        if (ended == Ended::kCut) {
            return broken.str();
        }
        if (!roaming.empty()) {  // a migration's temporary names
            ForEachEntry(roaming + L"\\Norvane", [&](const ListedEntry& entry) {
                if (_wcsicmp(entry.name.c_str(), config.c_str()) != 0) {
                    say(promise, roaming + L"\\Norvane\\" + entry.name, "left");
                }
            });
        }
        if (PathExists(archive) != !complete && !(complete && leftovers)) {
            say(promise, archive, complete ? "left" : "gone");
        }
        // Working folders gone, but for a backup holding only settings the per-user folder refused.
        for (const auto& [name, files] : working) {
            if (complete && !leftovers &&
                (!name.starts_with(L"backup_") || files.size() != 1 || !files.contains(config))) {
                say(1, L"update\\" + name, "left");
            }
        }
        return broken.str();
    }
    static constexpr size_t npos = std::wstring::npos;
};

// Invariants 3, 5 and 6 of one run that made a call fail with `error`: it ended in time as it
// may, a full disk or a refusal is told as what it is, and a hold of a moment is waited for.
// `toolRefused`: the error was the archive tool's start; `lasting`: it lasted, so a refusal
// stayed after the file's own protection was cleared.
inline std::string Behaved(std::optional<DWORD> code, DWORD error, const std::wstring& failure,
                           bool toolRefused = false, bool lasting = false) {
    const bool disk = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
    if (!code || (*code != 0 && *code != 3 && *code != 9 && *code != 10)) {
        return "3 exit " + (code ? std::to_string(*code) : "none") + "; ";
    }
    if (disk
            ? failure == kExtractionFailure || failure.starts_with(L"Windows refused") ||
                  failure == kIncompleteInstall
            : (error == ERROR_ACCESS_DENIED && failure.starts_with(L"Not enough disk space")) ||
                  (toolRefused && *code == 3 && !failure.starts_with(L"Windows could not start"))) {
        return "5 told as " + Utf8(failure) + "; ";
    }
    if (lasting && error == ERROR_ACCESS_DENIED && *code == 3 &&
        !failure.starts_with(L"Windows refused")) {
        return "3 a refusal told as " + Utf8(failure) + "; ";
    }
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    return held && *code == 3 ? "6 failed: " + Utf8(failure) + "; " : "";
}
