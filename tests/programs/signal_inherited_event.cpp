// Signals the event whose handle value it is given, which works only when the handle was
// inherited. Exits with 0 when the event could be signalled, 1 otherwise.
#include <windows.h>

#include <cstdint>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return 2;
    }
    const auto value = static_cast<uintptr_t>(std::wcstoull(argv[1], nullptr, 0));
    return SetEvent(reinterpret_cast<HANDLE>(value)) ? 0 : 1;
}
