#pragma once

#include <string>

// Where a member goes below the extraction folder ("." components dropped, '\' separators), or
// why it may not go anywhere. An empty path names the extraction folder itself.
struct MemberPath {
    std::wstring relative;
    const char* refusal = nullptr;  // null when the name is acceptable
};
MemberPath ToRelativePath(const std::string& name);
