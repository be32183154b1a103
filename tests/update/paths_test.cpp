// The paths every file operation goes through, and the root the install walks, as values: a share
// and a mistyped folder are not at hand for an end-to-end run.
#include <gtest/gtest.h>

#include "update/extraction_stage.h"
#include "update/working_paths.h"

namespace {

TEST(Paths, FullPathsTakeTheExtendedFormWithSingleBackslashes) {
    EXPECT_EQ(ExtendedLengthPath(L"C:\\Games\\\\Norvane\\"), L"\\\\?\\C:\\Games\\Norvane");
    EXPECT_EQ(ExtendedLengthPath(L"\\\\server\\share\\Norvane"),
              L"\\\\?\\UNC\\server\\share\\Norvane");
    EXPECT_EQ(ExtendedLengthPath(L"\\\\?\\D:\\Norvane"), L"\\\\?\\D:\\Norvane");
    const WorkingPaths paths = FormWorkingPaths(L"C:\\N", -1);
    EXPECT_EQ(paths.backupDir, L"\\\\?\\C:\\N\\update\\backup_4294967295");
    EXPECT_EQ(paths.toolDirectory, L"C:\\N\\update\\extract");
}

TEST(Paths, OnlyTheExtractionFolderOrAFolderDirectlyBelowItIsInstalled) {
    const std::wstring extract = L"\\\\?\\C:\\N\\update\\extract";
    EXPECT_TRUE(IsInstallableRoot(extract, extract));
    EXPECT_TRUE(IsInstallableRoot(extract + L"\\Norvane 1.2", extract));
    for (const std::wstring& wrong : {std::wstring(), extract.substr(0, 10), extract + L"ed",
                                      extract + L"\\", extract + L"\\a\\b"}) {
        EXPECT_FALSE(IsInstallableRoot(wrong, extract)) << wrong;
    }
}

}  // namespace
