#include "update/command_line.h"

#include <shellapi.h>
#include <stdlib.h>
#include <wchar.h>

#include <string_view>

namespace {

constexpr size_t kRequiredArgumentCount = 5;  // the program's path and four arguments

size_t DecimalDigits(uint32_t value) {
    size_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

bool FitsPathField(const std::wstring& argument) {
    return argument.size() < kPathCapacity;
}

// A quote would end the archive tool's quoted argument early and let the rest become options;
// a trailing backslash would escape the closing quote.
bool IsSafeToQuote(std::wstring_view path) {
    return path.find(L'"') == std::wstring_view::npos && !path.ends_with(L'\\');
}

}  // namespace

size_t LongestWorkingPathLength(size_t installDirLength, int32_t clientPid) {
    return installDirLength + kBackupConfigPathOverhead +
           DecimalDigits(static_cast<uint32_t>(clientPid));
}

std::unique_ptr<UpdateJob> ParseCommandLine(const std::vector<std::wstring>& arguments) {
    if (arguments.size() < kRequiredArgumentCount) {
        return nullptr;
    }
    const std::wstring& pid = arguments[1];
    const std::wstring& archive = arguments[2];
    const std::wstring& installDir = arguments[3];
    const std::wstring& exeName = arguments[4];
    if (!FitsPathField(pid) || !FitsPathField(archive) || !FitsPathField(installDir) ||
        !FitsPathField(exeName) || !IsSafeToQuote(archive)) {
        return nullptr;
    }

    auto job = std::make_unique<UpdateJob>();
    job->clientPid = _wtoi(pid.c_str());
    if (LongestWorkingPathLength(installDir.size(), job->clientPid) >= kPathCapacity) {
        return nullptr;
    }
    wcscpy_s(job->archivePath, kPathCapacity, archive.c_str());
    wcscpy_s(job->installDir, kPathCapacity, installDir.c_str());
    wcscpy_s(job->exeName, kPathCapacity, exeName.c_str());
    return job;
}

std::vector<std::wstring> ProcessArguments() {
    int count = 0;
    wchar_t** vector = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    if (vector == nullptr) {
        return arguments;
    }
    arguments.assign(vector, vector + count);
    LocalFree(vector);
    return arguments;
}
