#pragma once

#include <string>

// The baseline's tree walks: the least code that does the job, with no callbacks, no retries
// and no care for links, so the updater's own walks can be measured against them.
void PlainCopyTree(const std::wstring& source, const std::wstring& destination);
// The emptied folders stay behind, as with the updater's own move, for the deletions to remove.
void PlainMoveTree(const std::wstring& source, const std::wstring& destination);
int PlainCountFiles(const std::wstring& directory);
void PlainDeleteTree(const std::wstring& directory);
