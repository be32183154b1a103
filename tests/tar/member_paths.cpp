#include "member_paths.h"
#include "support/utf8_text.h"

#include <windows.h>

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'/' || c == L'\\';
}

bool IsAbsolute(const std::wstring& name) {
    if (!name.empty() && IsSeparator(name[0])) {
        return true;
    }
    return name.size() >= 2 && name[1] == L':';  // a drive, with or without a separator
}

}  // namespace

MemberPath ToRelativePath(const std::string& name) {
    const std::wstring wide = Widen(name);
    if (IsAbsolute(wide)) {
        return {{}, "Path is absolute"};
    }
    MemberPath path;
    size_t start = 0;
    while (start <= wide.size()) {
        size_t end = start;
        while (end < wide.size() && !IsSeparator(wide[end])) {
            ++end;
        }
        const std::wstring component = wide.substr(start, end - start);
        if (component == L"..") {
            return {{}, "Path contains '..'"};
        }
        if (!component.empty() && component != L".") {
            if (!path.relative.empty()) {
                path.relative += L'\\';
            }
            path.relative += component;
        }
        start = end + 1;
    }
    return path;
}
