// Every path the file operations form and every number the update computes or obeys, as values at
// their edges: a share and a mistyped folder are not at hand for an end-to-end run, and an
// off-by-one hides at a band's first and last value and one past it.
#include <gtest/gtest.h>

#include <algorithm>

#include "tools/archive_tool.h"
#include "tools/directory_tree.h"
#include "tools/held_file_retry.h"
#include "update/extraction_stage.h"
#include "update/install_progress.h"
#include "update/settings.h"
#include "update/working_paths.h"
#include "update/write_check.h"

namespace {

// Full paths take the extended form with single backslashes; only the extraction folder or a
// folder directly below it is installed. The bands' documented examples: of 200 files the first
// shows 55 %, the 100th 72 %, the 200th and a 201st 90 %. Pauses double from 50 ms to 1.6 s until
// 2 s for one file or 20 s for a walk are used up. Exactly the room needed is room enough; a byte
// short asks for a whole megabyte more. Files and hard links are listed files; folders, links and
// the tool's warnings are not.
TEST(Values, PathsBandsBudgetsSizesAndMessagesAtTheirEdges) {
    const std::wstring extract = L"\\\\?\\C:\\N\\update\\extract";
    const auto root = [&](const std::wstring& path) { return IsInstallableRoot(path, extract); };
    // clang-format off
    const bool rows[] = {
        ExtendedLengthPath(L"C:\\Games\\\\Norvane\\") == L"\\\\?\\C:\\Games\\Norvane",
        ExtendedLengthPath(L"\\\\server\\share\\N") == L"\\\\?\\UNC\\server\\share\\N",
        ExtendedLengthPath(L"\\\\?\\D:\\N") == L"\\\\?\\D:\\N",
        FormWorkingPaths(L"C:\\N", -1).backupDir == L"\\\\?\\C:\\N\\update\\backup_4294967295",
        FormWorkingPaths(L"C:\\N", -1).toolDirectory == L"C:\\N\\update\\extract", root(extract),
        root(extract + L"\\Norvane 1.2"), !root(L""), !root(extract.substr(0, 10)),
        !root(extract + L"ed"), !root(extract + L"\\"), !root(extract + L"\\a\\b"),
        InstallPercent(1, 200) == 55, InstallPercent(100, 200) == 72,
        InstallPercent(200, 200) == 90, InstallPercent(201, 200) == 90, InstallPercent(1, 1) == 90,
        InstallPercent(1, 0) == 90, ExtractionPercent(0, 7) == 10, ExtractionPercent(1, 7) == 15,
        ExtractionPercent(7, 7) == 50, ExtractionPercent(8, 7) == 50, ExtractionPercent(1, 0) == 50,
        NextRetryPause(0, 0, 0) == 0, NextRetryPause(1, 0, 0) == 50,
        NextRetryPause(6, 0, 0) == 1600, NextRetryPause(7, 0, 0) == 1600,
        NextRetryPause(5, 1999, 0) == 1, NextRetryPause(5, 2000, 0) == 0,
        NextRetryPause(5, 0, 19999) == 1, NextRetryPause(5, 0, 20000) == 0, SpaceTaken(0, 4096) == 0,
        SpaceTaken(1, 4096) == 4096, SpaceTaken(4096, 4096) == 4096,
        SpaceTaken(4097, 4096) == 8192, SpaceTaken(1, 131072) == 131072,
        BackupSpaceFailure(1 << 20, 1 << 20).empty(),
        BackupSpaceFailure((1 << 20) + 1, 1).substr(43, 3) == L"1 M",
        BackupSpaceFailure((1 << 20) + 1, 0).substr(43, 3) == L"2 M",
        ExtractionFailureMessage(true, 99, 100, true, true) == kDiskFullFailure,
        ExtractionFailureMessage(true, 100, 100, false, false) == kExtractionFailure,
        ExtractionFailureMessage(true, 100, 100, true, true) == kLinksUnheldFailure,
        ExtractionFailureMessage(false, 0, 100, false, false) == kExtractionFailure,
        ExtractionFailureMessage(false, 0, 100, false, true) == kToolWritesRefusedFailure, IsListedFile(L"-rw-r--r--"), ProbeExtension(L"Skin.PNG") == L".png",
        ExtractedName(L"x ./Norvane 1.2/game.dat") == L"\\Norvane 1.2\\game.dat",
        ExtractedName(L"x Norvane 1.2/").empty(), ExtractedName(L"x ./cl\u00efent.dll").empty(),
        ExtractedName(L"x ./???.pak").empty(),
        ExtractedName(L"x ./b.dll: Hard-link target './a.dll' does not exist.").empty(),
        ExtractedName(L"tar.exe: Error exit delayed from previous errors.").empty(),
        ProbeExtension(L"readme").empty(), ProbeExtension(L"a.").empty(),
        !IsListedFile(L"-rw-r--r-"), IsListedFile(L"hrwxr-xr-x b link"),
        !IsListedFile(L"drwxr-xr-x c/"), !IsListedFile(L"lrwxrwxrwx d"),
        !IsListedFile(L"-- warning")};
    // clang-format on
    // Each row must hold; a failure names the first that does not.
    EXPECT_EQ(std::find(std::begin(rows), std::end(rows), false) - std::begin(rows),
              std::ssize(rows));
}

}  // namespace
