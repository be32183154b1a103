// Stands in for a child whose output the runner captures. Each argument is one step:
//   out:HEX, err:HEX   write these bytes to stdout or stderr with one write
//   pause:MS           sleep, so the next write arrives in a separate read
//   repeat:N           do the next write N times (command lines are short, pipes are shorter)
//   exit:CODE          the exit code at the end (decimal, or hexadecimal with 0x); 0 by default
#include <windows.h>

#include <cwchar>
#include <string>
#include <utility>

namespace {

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

std::string BytesFromHex(const wchar_t* hex) {
    std::string bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        bytes.push_back(static_cast<char>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1])));
    }
    return bytes;
}

void Write(DWORD stream, const std::string& bytes, unsigned long times) {
    for (unsigned long i = 0; i < times; ++i) {
        DWORD written = 0;
        WriteFile(GetStdHandle(stream), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                  nullptr);
    }
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    unsigned long exitCode = 0;
    unsigned long times = 1;
    for (int i = 1; i < argc; ++i) {
        const wchar_t* step = argv[i];
        if (StartsWith(step, L"out:")) {
            Write(STD_OUTPUT_HANDLE, BytesFromHex(step + 4), std::exchange(times, 1));
        } else if (StartsWith(step, L"err:")) {
            Write(STD_ERROR_HANDLE, BytesFromHex(step + 4), std::exchange(times, 1));
        } else if (StartsWith(step, L"repeat:")) {
            times = std::wcstoul(step + 7, nullptr, 10);
        } else if (StartsWith(step, L"pause:")) {
            Sleep(static_cast<DWORD>(std::wcstoul(step + 6, nullptr, 10)));
        } else if (StartsWith(step, L"exit:")) {
            exitCode = std::wcstoul(step + 5, nullptr, 0);
        }
    }
    return static_cast<int>(exitCode);  // all 32 bits reach the parent
}
