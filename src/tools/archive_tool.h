#pragma once

#include <string>

#include "tools/child_process.h"

// Windows keeps the tool in its system folder (since Windows 10 1803); older systems get one
// shipped beside the updater. Never the current directory or PATH, where anyone could plant one.
std::wstring ArchiveToolPath(const std::wstring& systemFolder, const std::wstring& ownExePath,
                             bool systemToolExists);

// Runs the tool with `arguments` ("-tf -" or "-xvf -") on the archive, its output line by line
// to `onLine`. The tool takes its arguments in the ANSI code page, so a path outside it would
// reach it as question marks: it gets no path at all, but reads the archive, opened here with the
// full Unicode name, as its standard input, and extracts into `workingDirectory`. Returns its exit
// code, -1 if it cannot start or the archive cannot be opened.
int RunArchiveTool(const wchar_t* arguments, const wchar_t* archivePath,
                   const wchar_t* workingDirectory, LineCallback onLine);

// Lines the tool prints when listing the archive, one per entry; its exit code means nothing
// here, since a damaged archive still fails the extraction.
int CountArchiveEntries(const wchar_t* archivePath);
