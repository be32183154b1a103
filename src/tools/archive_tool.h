#pragma once

#include <string>
#include <string_view>

#include "tools/child_process.h"

// Windows keeps the tool in its system folder (since Windows 10 1803); older systems get one
// shipped beside the updater. Never the current directory or PATH, where anyone could plant one.
std::wstring ArchiveToolPath(const std::wstring& systemFolder, const std::wstring& ownExePath,
                             bool systemToolExists);

// RunArchiveTool's result when the archive cannot be opened, beside RunProcess's own.
inline constexpr int kArchiveNotOpened = -3;

// Runs the tool with `arguments` ("-tvf -" or "-xvf -") on the archive, its output line by line
// to `onLine`. The tool takes its arguments in the ANSI code page, so a path outside it would
// reach it as question marks: it gets no path at all, but reads the archive, opened here with the
// full Unicode name, as its standard input, and extracts into `workingDirectory`. An archive that
// another program still holds (the launcher finishing its download, a scanner's look at it) is
// waited for a moment. Returns the tool's exit code or RunProcess's codes, or kArchiveNotOpened.
int RunArchiveTool(const wchar_t* arguments, const wchar_t* archivePath,
                   const wchar_t* workingDirectory, LineCallback onLine);

// What the tool's listing says: one line per entry, for the bar, and of them those that unpack
// to a file, which the install must find again. The exit code means little on its own, since a
// damaged archive still fails the extraction.
struct ArchiveListing {
    int entries = 0;
    int files = 0;
    int hardLinks = 0;  // of the files, those stored as a link to another member
    int exitCode = 0;
    DWORD openError = ERROR_SUCCESS;  // why the archive could not be opened, if it could not
};
ArchiveListing ListArchive(const wchar_t* archivePath);

// A line of the verbose listing ("-rw-r--r--  0 root root 2 Jan 01 2000 name") that names a
// regular file or a hard link; folders, links and the tool's own warnings are not files.
bool IsListedFile(std::wstring_view line);
