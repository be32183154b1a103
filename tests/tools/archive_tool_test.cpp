#include "tools/archive_tool.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/tar_writer.h"
#include "support/test_files.h"
#include "update/working_paths.h"

namespace {

// --- The progress band -------------------------------------------------------------------

std::vector<int> BandFor(int total, int lines) {
    std::vector<int> band;
    for (int extracted = 1; extracted <= lines; ++extracted) {
        band.push_back(ExtractionPercent(extracted, total));
    }
    return band;
}

TEST(ExtractionBandTest, MovesFromTenToFiftyAndStaysThere) {
    const std::vector<int> of200 = BandFor(200, 201);
    EXPECT_EQ(of200[0], 10);
    EXPECT_EQ(of200[3], 10);
    EXPECT_EQ(of200[4], 11);
    EXPECT_EQ(of200[99], 30);
    EXPECT_EQ(of200[199], 50);
    EXPECT_EQ(of200[200], 50);

    EXPECT_EQ(BandFor(3, 4), (std::vector<int>{23, 36, 50, 50}));
}

TEST(ExtractionBandTest, AListingWithoutLinesDividesByOne) {
    EXPECT_EQ(ExtractionTotal(0), 1);
    EXPECT_EQ(ExtractionTotal(7), 7);
    EXPECT_EQ(BandFor(ExtractionTotal(0), 2), (std::vector<int>{50, 50}));
}

// --- The root choice ----------------------------------------------------------------------

struct Chosen {
    bool accepted;
    std::wstring root;
};

Chosen Choose(const std::wstring& dir, const std::vector<std::wstring>& names, bool answer) {
    wchar_t root[kPathCapacity] = L"stale";
    const bool accepted = ChooseExtractionRoot(
        dir.c_str(), names, [answer](const wchar_t*) { return answer; }, root);
    return {accepted, root};
}

TEST(ExtractionRootTest, OnlyASingleFolderBecomesTheRoot) {
    const std::wstring dir = L"C:\\game\\update\\extract";
    EXPECT_EQ(Choose(dir, {L"pkg"}, true).root, dir + L"\\pkg");
    EXPECT_EQ(Choose(dir, {L"readme.txt"}, false).root, dir);
    EXPECT_EQ(Choose(dir, {L"pkg", L"readme.txt"}, true).root, dir);
    EXPECT_EQ(Choose(dir, {L"pkg", L".config"}, true).root, dir);
    EXPECT_EQ(Choose(dir, {}, true).root, dir);
}

TEST(ExtractionRootTest, AFailedAttributeQueryMeansNotAFolder) {
    const std::wstring dir = L"C:\\game\\update\\extract";
    wchar_t root[kPathCapacity] = {};
    std::wstring asked;
    EXPECT_TRUE(ChooseExtractionRoot(
        dir.c_str(), {L"pkg"},
        [&asked](const wchar_t* path) {
            asked = path;
            return false;
        },
        root));
    EXPECT_EQ(asked, dir + L"\\pkg");
    EXPECT_EQ(std::wstring(root), dir);
}

TEST(ExtractionRootTest, AFolderWhosePathWouldBeCutIsRefused) {
    const std::wstring dir = L"C:\\" + std::wstring(200, L'd');
    const std::wstring fits(kPathCapacity - 2 - dir.size(), L'n');  // joined: 259 characters
    EXPECT_EQ(Choose(dir, {fits}, true).root, dir + L"\\" + fits);

    const std::wstring tooLong = fits + L"n";
    EXPECT_FALSE(Choose(dir, {tooLong}, true).accepted);
    const Chosen file = Choose(dir, {tooLong}, false);
    EXPECT_TRUE(file.accepted);
    EXPECT_EQ(file.root, dir);
}

// --- The whole stage with the archive tool -------------------------------------------------

void RecordPercent(const ProgressState& state, void* context) {
    static_cast<std::vector<int>*>(context)->push_back(state.percent.load());
}

class ExtractionStageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InitializeCriticalSection(&progress.lock);
        progress.percent = 8;  // where the wait for the client leaves it
        progress.observer = RecordPercent;
        progress.observerContext = &percents;
        MakeDirectories(install / L"update");
        wcscpy_s(job.installDir, kPathCapacity, install.Path().c_str());
        wcscpy_s(job.archivePath, kPathCapacity, (archives / L"update.tar").c_str());
        extractionDir = FormWorkingPaths(job).extractionDir;
    }
    void TearDown() override { DeleteCriticalSection(&progress.lock); }

    ExtractionOutcome Run(const std::string& archive) {
        WriteArchive(job.archivePath, archive);
        return RunExtractionStage(job, extractionDir.c_str(), progress);
    }

    ScratchFolder install;
    ScratchFolder archives;
    UpdateJob job;
    std::wstring extractionDir;
    ProgressState progress;
    std::vector<int> percents;
};

std::vector<ArchiveMember> NumberedFiles(int count) {
    std::vector<ArchiveMember> members;
    for (int i = 0; i < count; ++i) {
        members.push_back(File("file" + std::to_string(i) + ".txt", std::to_string(i)));
    }
    return members;
}

TEST_F(ExtractionStageTest, ReportsOneStepPerExtractedEntry) {
    const ExtractionOutcome outcome = Run(MakeTarArchive(NumberedFiles(200)));
    ASSERT_EQ(outcome.failureMessage, nullptr);
    // The status change, 200 extracted lines, then the final store.
    ASSERT_EQ(percents.size(), 202u);
    EXPECT_EQ(percents[0], 8);
    EXPECT_EQ(percents[1], 10);
    EXPECT_EQ(percents[5], 11);
    EXPECT_EQ(percents[100], 30);
    EXPECT_EQ(percents[200], 50);
    EXPECT_EQ(percents[201], 50);
    EXPECT_EQ(TakeSnapshot(progress).statusText, L"Extracting update...");

    percents.clear();
    progress.percent = 8;
    ASSERT_EQ(Run(MakeTarArchive(NumberedFiles(3))).failureMessage, nullptr);
    EXPECT_EQ(percents, (std::vector<int>{8, 23, 36, 50, 50}));
}

TEST_F(ExtractionStageTest, ASingleTopLevelFolderBecomesTheRoot) {
    const std::string longName = "pkg/" + std::string(120, 'l') + ".txt";
    const ExtractionOutcome outcome =
        Run(MakeTarArchive({Folder("pkg"), File("pkg/bin/game.dat", "game"),
                            File("pkg/caf\xc3\xa9.txt", "accent"), File(longName, "long")}));
    ASSERT_EQ(outcome.failureMessage, nullptr);
    const std::wstring root = extractionDir + L"\\pkg";
    EXPECT_EQ(std::wstring(outcome.extractionRoot), root);
    EXPECT_EQ(ReadTextFile(root + L"\\bin\\game.dat"), "game");
    EXPECT_EQ(ReadTextFile(root + L"\\caf\u00e9.txt"), "accent");
    EXPECT_EQ(ReadTextFile(extractionDir + L"\\" + Widen(longName)), "long");
}

TEST_F(ExtractionStageTest, AnythingButOneFolderLeavesTheExtractionDirAsRoot) {
    const std::vector<std::vector<ArchiveMember>> layouts = {
        {File("readme.txt", "r")},
        {Folder("pkg"), File("pkg/a.txt", "a"), File("other.txt", "o")},
        {Folder("pkg"), File(".config", "hidden")},
        {},
    };
    for (const auto& layout : layouts) {
        percents.clear();
        const ExtractionOutcome outcome = Run(MakeTarArchive(layout));
        ASSERT_EQ(outcome.failureMessage, nullptr) << layout.size();
        EXPECT_EQ(std::wstring(outcome.extractionRoot), extractionDir) << layout.size();
        EXPECT_EQ(percents.back(), 50);
    }
}

TEST_F(ExtractionStageTest, LeftoversOfAnEarlierRunAreDeletedFirst) {
    WriteTextFile(extractionDir + L"\\stale.txt", "old");
    WriteTextFile(extractionDir + L"\\pkg\\old.txt", "old");
    const ExtractionOutcome outcome =
        Run(MakeTarArchive({Folder("pkg"), File("pkg/new.txt", "n")}));
    ASSERT_EQ(outcome.failureMessage, nullptr);
    EXPECT_EQ(std::wstring(outcome.extractionRoot), extractionDir + L"\\pkg");
    EXPECT_FALSE(PathExists(extractionDir + L"\\stale.txt"));
    EXPECT_FALSE(PathExists(extractionDir + L"\\pkg\\old.txt"));
}

TEST_F(ExtractionStageTest, DamagedAndTruncatedArchivesFailTheStage) {
    const std::vector<ArchiveMember> members = {File("first.txt", "first"),
                                                File("second.txt", "second content")};
    EXPECT_EQ(Run(MakeDamagedTarArchive(members)).failureMessage, kExtractionFailure);
    EXPECT_EQ(Run(MakeTruncatedTarArchive(members)).failureMessage, kExtractionFailure);
}

TEST_F(ExtractionStageTest, WithoutTheUpdateFolderNothingIsStarted) {
    RemoveTreeForTests(install / L"update");
    const ExtractionOutcome outcome = Run(MakeTarArchive(NumberedFiles(1)));
    EXPECT_EQ(outcome.failureMessage, kExtractionDirFailure);
    EXPECT_TRUE(percents.empty());  // not even "Extracting update..."
    EXPECT_FALSE(PathExists(extractionDir));
}

// Hides tar.exe by emptying the search path for as long as it lives.
class HiddenArchiveTool {
  public:
    HiddenArchiveTool() {
        wchar_t path[32767];
        const DWORD length = GetEnvironmentVariableW(L"PATH", path, 32767);
        saved_ = std::wstring(path, length);
        SetEnvironmentVariableW(L"PATH", L"");
    }
    ~HiddenArchiveTool() { SetEnvironmentVariableW(L"PATH", saved_.c_str()); }
    HiddenArchiveTool(const HiddenArchiveTool&) = delete;
    HiddenArchiveTool& operator=(const HiddenArchiveTool&) = delete;

    static bool StillFound() {
        wchar_t found[MAX_PATH];
        return SearchPathW(nullptr, L"tar.exe", nullptr, MAX_PATH, found, nullptr) != 0;
    }

  private:
    std::wstring saved_;
};

TEST_F(ExtractionStageTest, AToolThatCannotStartFailsWithTheBarAtEight) {
    HiddenArchiveTool hidden;
    if (HiddenArchiveTool::StillFound()) {
        GTEST_SKIP() << "tar.exe is a system program here and cannot be hidden";
    }
    const ExtractionOutcome outcome = Run(MakeTarArchive(NumberedFiles(3)));
    EXPECT_EQ(outcome.failureMessage, kExtractionFailure);
    EXPECT_EQ(percents, (std::vector<int>{8}));
    EXPECT_EQ(progress.percent.load(), 8);
}

}  // namespace
