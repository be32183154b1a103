#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/tar_writer.h"
#include "support/test_files.h"
#include "tools/unique_handle.h"

namespace {

struct StandInRun {
    DWORD exitCode = 0;
    std::string out;
    std::string err;
};

UniqueFileHandle InheritableFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Shares writing: under Wine a console host that inherited the handles may outlive the child.
std::string ReadStream(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (file && ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    return content;
}

// Runs the stand-in by its full path, so no system tar.exe can answer instead, with its two
// output streams kept apart in files.
StandInRun RunStandIn(const std::wstring& arguments) {
    ScratchFolder streams;
    StandInRun run;
    {
        UniqueFileHandle out = InheritableFile(streams / L"out");
        UniqueFileHandle err = InheritableFile(streams / L"err");
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.Get();
        startup.hStdError = err.Get();
        std::wstring command =
            L"\"" + TestProgramFolder() + L"\\..\\tar-stand-in\\tar.exe\" " + arguments;
        PROCESS_INFORMATION started{};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                            nullptr, nullptr, &startup, &started)) {
            ADD_FAILURE() << "the stand-in did not start";
            return run;
        }
        UniqueHandle process(started.hProcess);
        UniqueHandle thread(started.hThread);
        WaitForSingleObject(process.Get(), INFINITE);
        GetExitCodeProcess(process.Get(), &run.exitCode);
    }
    run.out = ReadStream(streams / L"out");
    run.err = ReadStream(streams / L"err");
    return run;
}

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

StandInRun List(const std::wstring& archive) {
    return RunStandIn(L"-tf " + Quoted(archive));
}

StandInRun Extract(const std::wstring& archive, const std::wstring& into) {
    return RunStandIn(L"-xvf " + Quoted(archive) + L" -C " + Quoted(into));
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

const std::string kDeepFolder = std::string(60, 'a') + "/" + std::string(60, 'b');

// Archives of the same tree, written at build time by libarchive and GNU tar.
class RealArchiveTest : public ::testing::TestWithParam<const wchar_t*> {
  protected:
    void SetUp() override {
        archive = TestProgramFolder() + L"\\tar-fixtures\\" + GetParam();
        if (!PathExists(archive)) {
            GTEST_SKIP() << "this build has no writer for " << Narrow(GetParam());
        }
    }
    std::wstring archive;
};

TEST_P(RealArchiveTest, ExtractsEveryMemberWithOneLinePerMemberOnStderr) {
    ScratchFolder target;
    const StandInRun run = Extract(archive, target.Path());
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(run.out.empty());

    const std::wstring pkg = target / L"pkg";
    EXPECT_EQ(ReadTextFile(pkg + L"\\readme.txt"), "readme\n");
    EXPECT_EQ(ReadTextFile(pkg + L"\\nested\\deeper\\leaf.txt"), "leaf\n");
    const std::wstring deep = pkg + L"\\" + Widen(kDeepFolder) + L"\\long-file.txt";
    EXPECT_EQ(ReadTextFile(deep), "long\n");
    EXPECT_EQ(ReadTextFile(pkg + L"\\caf\u00e9\\\u00f1and\u00fa.txt"), "non-ascii\n");
    EXPECT_TRUE(IsDirectory(pkg + L"\\empty"));

    const std::vector<std::string> listed = Lines(List(archive).out);
    const std::vector<std::string> extracted = Lines(run.err);
    ASSERT_EQ(extracted.size(), listed.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(extracted[i], "x " + listed[i]);
    }
    if (std::find(listed.begin(), listed.end(), "pkg/hard-link.txt") != listed.end() ||
        std::find(listed.begin(), listed.end(), "./pkg/hard-link.txt") != listed.end()) {
        EXPECT_EQ(ReadTextFile(pkg + L"\\hard-link.txt"), "long\n");
    }
}

TEST_P(RealArchiveTest, ListsFullNamesOnStdout) {
    const StandInRun run = List(archive);
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    const std::vector<std::string> listed = Lines(run.out);
    auto has = [&listed](const std::string& name) {
        return std::find(listed.begin(), listed.end(), name) != listed.end() ||
               std::find(listed.begin(), listed.end(), "./" + name) != listed.end();
    };
    EXPECT_TRUE(has("pkg/readme.txt"));
    EXPECT_TRUE(has("pkg/" + kDeepFolder + "/long-file.txt"));
    EXPECT_TRUE(
        has("pkg/caf\xc3\xa9/\xc3\xb1"
            "and\xc3\xba.txt"));
    EXPECT_TRUE(has("pkg/empty/"));
}

INSTANTIATE_TEST_SUITE_P(Writers, RealArchiveTest,
                         ::testing::Values(L"libarchive-gnutar.tar", L"libarchive-pax.tar",
                                           L"libarchive-paxr.tar", L"gnu-ustar.tar", L"gnu-gnu.tar",
                                           L"gnu-pax.tar"),
                         [](const auto& test) {
                             std::string name = Narrow(test.param);
                             name = name.substr(0, name.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(StandInTest, ReadsLongNamesOfBothStylesFromTheTestWriter) {
    const std::string longName = "top/" + std::string(150, 'n') + ".txt";
    for (LongNames style : {LongNames::Gnu, LongNames::Pax}) {
        ScratchFolder scratch;
        WriteArchive(scratch / L"a.tar",
                     MakeTarArchive({Folder("top"), File(longName, "deep")}, style));
        ASSERT_EQ(Lines(List(scratch / L"a.tar").out),
                  (std::vector<std::string>{"top/", longName}));
        const StandInRun run = Extract(scratch / L"a.tar", scratch.Path());
        ASSERT_EQ(run.exitCode, 0u) << run.err;
        EXPECT_EQ(ReadTextFile(scratch / Widen(longName)), "deep");
    }
}

TEST(StandInTest, FailsOnMissingDamagedAndTruncatedArchives) {
    ScratchFolder scratch;
    const std::vector<ArchiveMember> members = {File("first.txt", "first"),
                                                File("second.txt", "second content")};
    WriteArchive(scratch / L"damaged.tar", MakeDamagedTarArchive(members));
    WriteArchive(scratch / L"truncated.tar", MakeTruncatedTarArchive(members));
    MakeDirectories(scratch / L"out");

    for (const wchar_t* name : {L"missing.tar", L"damaged.tar", L"truncated.tar"}) {
        const StandInRun listed = List(scratch / name);
        EXPECT_NE(listed.exitCode, 0u) << Narrow(name);
        const StandInRun extracted = Extract(scratch / name, scratch / L"out");
        EXPECT_NE(extracted.exitCode, 0u) << Narrow(name);
        EXPECT_NE(extracted.err.find("tar.exe: "), std::string::npos) << Narrow(name);
    }
}

TEST(StandInTest, AcceptsEmptyArchivesAndRejectsAMissingTargetFolder) {
    ScratchFolder scratch;
    WriteArchive(scratch / L"zero-length.tar", "");
    WriteArchive(scratch / L"end-blocks.tar", MakeTarArchive({}));
    for (const wchar_t* name : {L"zero-length.tar", L"end-blocks.tar"}) {
        const StandInRun run = Extract(scratch / name, scratch.Path());
        EXPECT_EQ(run.exitCode, 0u) << Narrow(name) << run.err;
        EXPECT_EQ(run.err, "");
    }
    EXPECT_NE(Extract(scratch / L"end-blocks.tar", scratch / L"nowhere").exitCode, 0u);
}

TEST(StandInTest, RefusesNamesThatLeaveTheTargetFolder) {
    ScratchFolder scratch;
    const std::wstring target = scratch / L"target";
    MakeDirectories(target);
    WriteArchive(scratch / L"evil.tar",
                 MakeTarArchive({File("../escaped.txt", "x"), File("ok/../../escaped2.txt", "x"),
                                 File("/rooted.txt", "x"), File("C:/drive.txt", "x"),
                                 File("kept.txt", "kept")}));

    const StandInRun run = Extract(scratch / L"evil.tar", target);
    EXPECT_NE(run.exitCode, 0u);
    EXPECT_NE(run.err.find("../escaped.txt: Path contains '..'"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("/rooted.txt: Path is absolute"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("C:/drive.txt: Path is absolute"), std::string::npos) << run.err;
    EXPECT_FALSE(PathExists(scratch / L"escaped.txt"));
    EXPECT_FALSE(PathExists(scratch / L"escaped2.txt"));
    EXPECT_FALSE(PathExists(target + L"\\rooted.txt"));
    EXPECT_EQ(ReadTextFile(target + L"\\kept.txt"), "kept");
}

}  // namespace
