#include "tools/directory_tree.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/directory_link.h"
#include "support/test_files.h"
#include "tools/file_copy_retry.h"
#include "tools/tree_entry.h"
#include "tools/unique_handle.h"

namespace {

TEST(TreeEntry, SkipsExactlyDotAndDotDot) {
    EXPECT_TRUE(IsDotOrDotDot(L"."));
    EXPECT_TRUE(IsDotOrDotDot(L".."));
    for (const wchar_t* name : {L"...", L".config", L"..x", L"a.", L""}) {
        EXPECT_FALSE(IsDotOrDotDot(name)) << name;
    }
}

TEST(TreeEntry, LinksToDirectoriesAreNotDirectories) {
    EXPECT_EQ(ClassifyEntry(FILE_ATTRIBUTE_ARCHIVE), EntryKind::kFile);
    EXPECT_EQ(ClassifyEntry(FILE_ATTRIBUTE_NORMAL), EntryKind::kFile);
    EXPECT_EQ(ClassifyEntry(FILE_ATTRIBUTE_REPARSE_POINT), EntryKind::kFile);
    EXPECT_EQ(ClassifyEntry(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN |
                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY),
              EntryKind::kDirectory);
    EXPECT_EQ(ClassifyEntry(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              EntryKind::kDirectoryLink);
}

// Files below `directory`, relative to `root`, in the order a depth-first listing meets them.
void ListFilesDepthFirst(const std::wstring& root, const std::wstring& relative,
                         std::vector<std::wstring>& files) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle listing(FindFirstFileW((root + relative + L"\\*").c_str(), &entry));
    if (!listing) {
        return;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ListFilesDepthFirst(root, relative + L"\\" + name, files);
        } else {
            files.push_back(relative + L"\\" + name);
        }
    } while (FindNextFileW(listing.Get(), &entry));
}

TEST(CountFiles, EmptyDirectoriesCountOneAndMissingOnesZero) {
    ScratchFolder scratch;
    WriteTextFile(scratch / L"tree\\a\\1.txt", "1");
    WriteTextFile(scratch / L"tree\\a\\2.txt", "2");
    MakeDirectories(scratch / L"tree\\b");
    WriteTextFile(scratch / L"tree\\top.txt", "t");
    EXPECT_EQ(CountFiles(scratch / L"tree"), 4);
    EXPECT_EQ(CountFiles(scratch / L"tree\\b"), 1);
    EXPECT_EQ(CountFiles(scratch / L"missing"), 0);
    EXPECT_EQ(CountFiles(scratch / L"tree\\top.txt"), 0);
}

TEST(CopyTree, OverwritesAndKeepsFilesOnlyTheDestinationHas) {
    ScratchFolder scratch;
    WriteTextFile(scratch / L"src\\game.dat", "new");
    WriteTextFile(scratch / L"src\\data\\level.pak", "new level");
    WriteTextFile(scratch / L"dst\\game.dat", "old and longer");
    WriteTextFile(scratch / L"dst\\data\\saved.sav", "mine");
    int calls = 0;
    EXPECT_EQ(CopyTree(scratch / L"src", scratch / L"dst", [&] { ++calls; }), 0);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(ReadTextFile(scratch / L"dst\\game.dat"), "new");
    EXPECT_EQ(ReadTextFile(scratch / L"dst\\data\\level.pak"), "new level");
    EXPECT_EQ(ReadTextFile(scratch / L"dst\\data\\saved.sav"), "mine");
}

TEST(CopyTree, CreatesTheDestinationEvenWithoutSource) {
    ScratchFolder scratch;
    int calls = 0;
    EXPECT_EQ(CopyTree(scratch / L"missing", scratch / L"dst", [&] { ++calls; }), 0);
    EXPECT_TRUE(IsDirectory(scratch / L"dst"));

    MakeDirectories(scratch / L"empty");
    EXPECT_EQ(CopyTree(scratch / L"empty", scratch / L"dst2", [&] { ++calls; }), 0);
    EXPECT_TRUE(IsDirectory(scratch / L"dst2"));
    EXPECT_EQ(calls, 0);

    // Only one level is created: every copy below a missing parent fails, yet is reported.
    WriteTextFile(scratch / L"src\\a.txt", "a");
    WriteTextFile(scratch / L"src\\sub\\b.txt", "b");
    EXPECT_EQ(CopyTree(scratch / L"src", scratch / L"no\\such\\dst", [&] { ++calls; }), 2);
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(PathExists(scratch / L"no"));
}

TEST(DirectoryTree, NamesStartingWithDotsAreOrdinaryEntries) {
    ScratchFolder scratch;
    for (const wchar_t* name : {L".hidden", L"..twice", L".cfg\\.x"}) {
        WriteTextFile(scratch / (std::wstring(L"src\\") + name), "x");
    }
    EXPECT_EQ(CountFiles(scratch / L"src"), 3);
    EXPECT_EQ(CopyTree(scratch / L"src", scratch / L"dst", nullptr), 0);
    EXPECT_EQ(ReadTextFile(scratch / L"dst\\.cfg\\.x"), "x");
    EXPECT_EQ(ReadTextFile(scratch / L"dst\\..twice"), "x");
    EXPECT_EQ(CountFiles(scratch / L"dst"), 3);
    DeleteTree(scratch / L"dst");
    EXPECT_FALSE(PathExists(scratch / L"dst"));
}

TEST(CopyTree, CallsBackRightAfterEachFileDepthFirstInListingOrder) {
    ScratchFolder scratch;
    for (const wchar_t* file :
         {L"top.txt", L"a\\one.txt", L"a\\b\\two.txt", L"a\\b\\three.txt", L"c\\four.txt"}) {
        WriteTextFile(scratch / (std::wstring(L"src\\") + file), "x");
    }
    std::vector<std::wstring> order;
    ListFilesDepthFirst(scratch / L"src", L"", order);
    ASSERT_EQ(order.size(), 5u);

    const std::wstring destination = scratch / L"dst";
    size_t calls = 0;
    EXPECT_EQ(CopyTree(scratch / L"src", destination,
                       [&] {
                           ASSERT_LT(calls, order.size());
                           EXPECT_TRUE(PathExists(destination + order[calls])) << calls;
                           if (calls + 1 < order.size()) {
                               EXPECT_FALSE(PathExists(destination + order[calls + 1])) << calls;
                           }
                           ++calls;
                       }),
              0);
    EXPECT_EQ(calls, 5u);

    // Without a callback the same files are copied.
    EXPECT_EQ(CopyTree(scratch / L"src", scratch / L"dst2", nullptr), 0);
    std::vector<std::wstring> copied;
    ListFilesDepthFirst(scratch / L"dst2", L"", copied);
    EXPECT_EQ(copied.size(), 5u);
}

TEST(DeleteTree, RemovesEverythingButLeavesFilePathsAlone) {
    ScratchFolder scratch;
    WriteTextFile(scratch / L"tree\\a\\b\\deep.txt", "x");
    MakeDirectories(scratch / L"tree\\empty");
    WriteTextFile(scratch / L"tree\\hidden.txt", "x");
    SetFileAttributesW((scratch / L"tree\\hidden.txt").c_str(),
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    DeleteTree(scratch / L"tree");
    EXPECT_FALSE(PathExists(scratch / L"tree"));

    WriteTextFile(scratch / L"file.txt", "stays");
    DeleteTree(scratch / L"file.txt");
    EXPECT_EQ(ReadTextFile(scratch / L"file.txt"), "stays");
    DeleteTree(scratch / L"missing");  // nothing to do, nothing to fail
}

TEST(DirectoryTree, ReadOnlyFilesAreCopiedButNeverForced) {
    ScratchFolder scratch;
    WriteTextFile(scratch / L"src\\sub\\readonly.cfg", "new");
    WriteTextFile(scratch / L"src\\other.txt", "new");
    SetFileAttributesW((scratch / L"src\\sub\\readonly.cfg").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(CopyTree(scratch / L"src", scratch / L"dst", nullptr), 0);
    EXPECT_EQ(ReadTextFile(scratch / L"dst\\sub\\readonly.cfg"), "new");

    // Windows refuses to overwrite a read-only file and Wine does not; either way the count
    // must match what happened, and access denied is not worth a retry.
    WriteTextFile(scratch / L"dst2\\sub\\readonly.cfg", "old");
    SetFileAttributesW((scratch / L"dst2\\sub\\readonly.cfg").c_str(), FILE_ATTRIBUTE_READONLY);
    int calls = 0;
    const ULONGLONG start = GetTickCount64();
    const int failed = CopyTree(scratch / L"src", scratch / L"dst2", [&] { ++calls; });
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(failed, ReadTextFile(scratch / L"dst2\\sub\\readonly.cfg") == "old" ? 1 : 0);
    EXPECT_EQ(ReadTextFile(scratch / L"dst2\\other.txt"), "new");

    // A file that cannot be deleted keeps the folders above it; everything else goes.
    DeleteTree(scratch / L"dst2");
    EXPECT_TRUE(PathExists(scratch / L"dst2\\sub\\readonly.cfg"));
    EXPECT_FALSE(PathExists(scratch / L"dst2\\other.txt"));
}

UniqueFileHandle HoldWithoutSharing(const std::wstring& path) {
    return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST(CopyTree, HeldFileIsRetriedForAWhileThenReported) {
    ScratchFolder scratch;
    WriteTextFile(scratch / L"src\\held.bin", "new");
    WriteTextFile(scratch / L"src\\free.bin", "new");
    UniqueFileHandle hold = HoldWithoutSharing(scratch / L"src\\held.bin");
    ASSERT_TRUE(hold);
    int calls = 0;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(CopyTree(scratch / L"src", scratch / L"dst", [&] { ++calls; }), 1);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, kFileRetryLimitMs - 100);
    EXPECT_LT(elapsed, kFileRetryLimitMs + 2000);
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(PathExists(scratch / L"dst\\held.bin"));
    EXPECT_EQ(ReadTextFile(scratch / L"dst\\free.bin"), "new");
}

TEST(CopyTree, FileReleasedDuringTheRetryIsCopied) {
    ScratchFolder scratch;
    WriteTextFile(scratch / L"src\\held.bin", "new");
    UniqueFileHandle hold = HoldWithoutSharing(scratch / L"src\\held.bin");
    ASSERT_TRUE(hold);
    std::thread release([&] {
        Sleep(300);
        hold.Reset();
    });
    const int failed = CopyTree(scratch / L"src", scratch / L"dst", nullptr);
    release.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(ReadTextFile(scratch / L"dst\\held.bin"), "new");
}

TEST(DirectoryTree, LinksToOutsideFoldersAreNeverEntered) {
    ScratchFolder outside;
    WriteTextFile(outside / L"precious.txt", "keep");
    WriteTextFile(outside / L"sub\\deep.txt", "keep");
    ScratchFolder scratch;
    WriteTextFile(scratch / L"src\\own.txt", "x");
    const LinkKind kind = MakeDirectoryLink(scratch / L"src\\link", outside.Path());
    if (kind == LinkKind::kNone) {
        GTEST_SKIP() << "this system can make neither a directory symbolic link nor a junction";
    }
    MakeDirectoryLink(scratch / L"alone", outside.Path());

    EXPECT_EQ(CountFiles(scratch / L"src"), 1);
    int calls = 0;
    EXPECT_EQ(CopyTree(scratch / L"src", scratch / L"dst", [&] { ++calls; }), 0);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(PathExists(scratch / L"dst\\link"));

    DeleteTree(scratch / L"src");
    EXPECT_FALSE(PathExists(scratch / L"src"));
    DeleteTree(scratch / L"alone");
    EXPECT_FALSE(PathExists(scratch / L"alone"));
    EXPECT_EQ(ReadTextFile(outside / L"precious.txt"), "keep");
    EXPECT_EQ(ReadTextFile(outside / L"sub\\deep.txt"), "keep");
}

}  // namespace
