#pragma once

#include <string>

// The baseline's tree walks: the least code that does the job, with no callbacks, no retries
// and no care for links, so the updater's own walks can be measured against them.
void PlainCopyTree(const std::wstring& source, const std::wstring& destination);
// The emptied folders stay behind, as with the updater's own move, for the deletions to remove.
void PlainMoveTree(const std::wstring& source, const std::wstring& destination);
// For every file below `shipped`, moves the file of the same relative path from `installed` to
// `aside`, if there is one: the set-aside of a player's files that an update replaces.
void PlainSetAsideShipped(const std::wstring& shipped, const std::wstring& installed,
                          const std::wstring& aside);
int PlainCountFiles(const std::wstring& directory);
void PlainDeleteTree(const std::wstring& directory);
// Writes every file below `directory` from the cache to the disk, one flush each.
void PlainFlushTree(const std::wstring& directory);
