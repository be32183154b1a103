#pragma once

#include <memory>
#include <string>
#include <vector>

#include "update/update_job.h"

inline constexpr wchar_t kUsageText[] =
    L"Usage: mossharbor-updater.exe <pid> <archive> <install_dir> <exe>";
inline constexpr wchar_t kUsageCaption[] = L"MossHarbor Updater";

// Characters that the longest working path adds to installDir besides the pid's digits:
// "\update\backup_" before them and "\norvane_launcher.cfg" after them.
inline constexpr size_t kBackupConfigPathOverhead = 15 + 21;

// The longest path the worker forms below installDir, for this pid.
size_t LongestWorkingPathLength(size_t installDirLength, int32_t clientPid);

// Arguments as CommandLineToArgvW gives them, the program's own path first. Returns no job
// when the usage message is due: fewer than four arguments, an argument too long for its
// field, an installation directory whose working paths would be cut, or an archive path that
// could escape the quotes of the archive tool's command line.
std::unique_ptr<UpdateJob> ParseCommandLine(const std::vector<std::wstring>& arguments);

// Splits the process's own command line the way the shell does.
std::vector<std::wstring> ProcessArguments();
