#pragma once

#include <string>

// How a directory link could be made on this system, if at all.
enum class LinkKind { kNone, kSymbolicLink, kJunction };

// Makes `link` a link to the directory `target` (an absolute path): a symbolic link when this
// account may create one, otherwise a junction. Checks that the result really is a link.
LinkKind MakeDirectoryLink(const std::wstring& link, const std::wstring& target);
