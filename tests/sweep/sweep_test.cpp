// Every call of a small update fails in turn, with each error a player's machine gives there; the
// power fails before each of its calls; each run is held to the promises, and so is the run after
// it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "sweep/points.h"

namespace {

// In a folder whose name holds a space: a read-only game file and a hidden, system one, the
// player's files in a kept folder, one the update ships too and one read-only that it does not,
// and launcher settings to migrate that the update ships its own of.
Layout SmallUpdate() {
    Layout layout;
    layout.install = {{L"game.dat", {"old game", FILE_ATTRIBUTE_READONLY}},
                      {L"client.dll", {"old dll", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}},
                      {L"norvane_version.txt", {"1.1"}},
                      {L"norvane_launcher.cfg", {"player config"}},
                      {L"data\\audio\\music.ogg", {"player music"}},
                      {L"data\\audio\\mine.ogg", {"player only", FILE_ATTRIBUTE_READONLY}}};
    layout.update = {{L"game.dat", {"new game"}},
                     {L"client.dll", {"new dll"}},
                     {L"data\\audio\\music.ogg", {"update music"}},
                     {L"norvane_launcher.cfg", {"shipped config"}},
                     {L"norvane_client_pending_version.txt", {"1.2"}}};
    return layout;
}

// The errors Windows documents for each call that a player's machine gives: a hold of a moment
// (32, 33), a refusal (5), a full disk (112), a path gone meanwhile (2, 3), no memory (8). The
// system folder, the waits and the pauses do not fail. A call that only looks is not told a path is
// gone while it stays: a path truly gone holds nothing to lose.
const std::pair<std::string, std::vector<DWORD>> kErrors[] = {
    {"CreateFileW", {32, 5, 112, 3}},
    {"CreateDirectoryW", {5, 112, 3}},
    {"CopyFileW", {32, 33, 5, 112, 2}},
    {"MoveFileExW", {32, 5, 112, 2}},
    {"MoveFileW", {32, 5, 2}},
    {"DeleteFileW", {32, 5, 2}},
    {"RemoveDirectoryW", {32, 5, 3}},
    {"GetFileAttributesW", {5}},
    {"GetFileAttributesExW", {5}},
    {"SetFileAttributesW", {32, 5, 2}},
    {"FindFirstFileW", {5}},
    {"FindNextFileW", {5}},
    {"GetDiskFreeSpaceExW", {5, 3}},
    {"CreatePipe", {8}},
    {"CreateProcessW", {2, 5}},
    {"AssignProcessToJobObject", {5}},
    {"GetExitCodeProcess", {5}},
    {"CreateThread", {8}},
    {"FlushFileBuffers", {5, 112}},
    {"GetVolumeInformationW", {5, 3}},
    {"GetDiskFreeSpaceW", {5, 3}},
};

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// The small update's download, packed by the system's tool.
struct Download {
    Download() {
        Plant(folder / L"release\\Norvane 1.2", layout.update);
        made = MakeArchive(folder / L"release", archive, L"-c");
    }
    ScratchFolder folder;
    Layout layout = SmallUpdate();
    std::wstring archive = folder / L"update.tar";
    bool made = false;
};

TEST(Sweep, EveryFailingCallEveryKillAndEveryPowerCutKeepsThePromises) {
    const Download download;
    const Layout& layout = download.layout;
    const std::wstring& archive = download.archive;
    ASSERT_TRUE(download.made);
    // A next run from what another point left is not run again.
    NextRuns nextRuns;
    const auto run = [&](std::vector<Point>& points) {
        RunSideBySide(points.size(),
                      [&](size_t i) { RunPoint(layout, archive, points[i], &nextRuns); });
    };
    std::vector<Point> clean(1);
    run(clean);
    ASSERT_EQ(clean[0].ended + clean[0].broken, "success");
    std::vector<Point> points;
    // The N-th call of the function naming `part` (any call, without one) fails with the error,
    // once, or for good from then on: a lasting hold may fail the update, told as such.
    const auto fail = [&](const std::string& function, DWORD error, int n, bool lasting,
                          const std::wstring& part, const std::string& row) {
        points.push_back(
            {{L"MOSSHARBOR_TEST_FAIL=" + Wide(function) + L" " + std::to_wstring(error) + L" #" +
              std::to_wstring(n) + (lasting ? L"+" : L"") + (part.empty() ? L"" : L" " + part)},
             row,
             lasting && error == ERROR_SHARING_VIOLATION ? 0 : error});
    };
    // A hold or a refusal may also last, for the moves that set the player's files aside, install
    // and put them back. Lasting failures of the other calls found nothing that failing once does
    // not, at twice the sweep's time.
    for (const auto& [function, errors] : kErrors) {
        for (const DWORD error : errors) {
            const std::string row = function + " " + std::to_string(error);
            const bool lasts = function == "MoveFileExW" && (error == 5 || error == 32);
            for (int n = 1; n <= clean[0].calls[function]; ++n) {
                fail(function, error, n, false, {}, row);
                if (lasts) {
                    fail(function, error, n, true, {}, row + " for good");
                }
            }
        }
    }
    // A program holding one file, or refusing it, from its N-th move on.
    Tree files = layout.install;
    files.insert(layout.update.begin(), layout.update.end());
    for (const auto& [path, file] : files) {
        for (const DWORD error : {5, 32}) {
            for (int n = 1; n <= 3; ++n) {
                fail("MoveFileExW", error, n, true, path,
                     "MoveFileExW " + std::to_string(error) + " for good on one file");
            }
        }
    }
    for (int n = 1; n <= Total(clean[0]); ++n) {
        points.push_back({{L"MOSSHARBOR_TEST_POWER_CUT=* " + std::to_wstring(n)}, "power cut"});
    }
    // MOSSHARBOR_TEST_SWEEP_ROWS, a part of rows' names, runs those alone, as for a planted fault.
    const char* rows = std::getenv("MOSSHARBOR_TEST_SWEEP_ROWS");
    const std::string only = rows ? rows : "";
    std::erase_if(points, [&](const Point& point) { return point.row.find(only) == npos; });
    run(points);
    // A kill is not a row of its own: the updater never reads back a file it wrote, so its
    // decisions after a kill and after a cut at the same call are the same, and a cut leaves the
    // same names and lengths with zeros for what was not flushed, which no promise accepts where
    // it accepts the data. One killed during the install leaves the player's originals in its
    // backup; the next run, which merges them, loses power at each of its calls.
    std::vector<Point> killed, cuts;
    for (const Point& point : points) {
        if (point.row == "power cut" && point.lastStatus == L"Installing files...") {
            killed.push_back({{L"MOSSHARBOR_TEST_KILL=" +
                               point.faults[0].substr(point.faults[0].find(L'=') + 1)}});
        }
    }
    ASSERT_FALSE(killed.empty() && only.empty()) << "no kill during the install";
    if (!killed.empty()) {
        killed = {killed[killed.size() / 2]};
        run(killed);
        printf("The kill in the install: %ls\n", killed[0].faults[0].c_str());
        for (int n = 1; n <= Total(killed[0]); ++n) {
            cuts.push_back({.faults = {L"MOSSHARBOR_TEST_POWER_CUT=* " + std::to_wstring(n)},
                            .row = "kill in the install, then power cut",
                            .start = killed[0].left});
        }
        run(cuts);
    }
    points.insert(points.end(), cuts.begin(), cuts.end());
    const std::string table = Table(points);
    printf("%s", table.c_str());
    EXPECT_EQ(table.find("BROKE"), npos) << "each run of a point: the variables above";
}

// A launcher started twice starts a second updater for the same installation, for the same client
// or another one. Whatever the first is doing, the second waits for it, then does what is left:
// nothing, once the first has installed the update.
TEST(Sweep, ASecondUpdaterAtEveryStatusOfTheFirstKeepsThePromises) {
    const Download download;
    const Layout& layout = download.layout;
    const std::wstring& archive = download.archive;
    ASSERT_TRUE(download.made);
    const std::wstring statuses[] = {L"Waiting for client to close...",
                                     L"Extracting update...",
                                     L"Backing up settings...",
                                     L"Installing files...",
                                     L"Restoring settings...",
                                     L"Cleaning up...",
                                     L"Launching Norvane..."};
    const size_t count = std::size(statuses);
    std::vector<std::string> broken(2 * count);
    RunSideBySide(broken.size(), [&](size_t i) {
        Scene scene(layout, archive);
        const std::wstring log = scene.Log() + L".second";
        UniqueHandle second;
        const ::Run run{
            .hold = statuses[i % count],
            .atHold =
                [&](Scene& scene) {
                    second =
                        LaunchUpdater(scene, {}, Arguments(scene, ExitedClient(i / count)), log);
                    return WaitUntil(
                               [&] {
                                   return Shown(log).status ==
                                          L"Waiting for another update to finish...";
                               },
                               20000)
                               ? ""
                               : "3 the second did not wait, at " + Utf8(Shown(log).status) + "; ";
                },
            .after =
                [&](Scene& scene) {
                    const std::optional<DWORD> code = WaitForExitCode(second, 60000);
                    KillProgram(second);
                    return Behaved(code, 0, Shown(log).failure) +
                           (code == 0u
                                ? ""
                                : "4 the second failed: " + Utf8(Shown(log).failure) + "; ") +
                           scene.promises.Broken(code == 0u   ? Ended::kSuccess
                                                 : code == 3u ? Ended::kFailure
                                                              : Ended::kCut);
                },
            .leftovers = true};  // the second, still running, holds the lock once the first ends
        broken[i] = RunUpdater(scene, run).broken;
    });
    for (size_t i = 0; i < broken.size(); ++i) {
        EXPECT_EQ(broken[i], "") << "held at " << Utf8(statuses[i % count])
                                 << (i < count ? ", the same client" : ", another client");
    }
}

}  // namespace
