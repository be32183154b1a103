// Stands in for the game client. Started by the updater (no arguments) it records the folder it
// was started in, so tests can check the working directory. Started by a test or the demo it
// prints its process id (under Wine not the Linux one) and stays alive:
//   fake-client.exe --sleep MS          exits after MS milliseconds
//   fake-client.exe --until-file PATH   exits once PATH exists
//   fake-client.exe --forever           never exits on its own
#include <windows.h>

#include <stdio.h>

#include <string>

namespace {

void RecordLaunch() {
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    char utf8[MAX_PATH * 4] = {};
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, folder, -1, utf8, sizeof(utf8), nullptr, nullptr);
    HANDLE file = CreateFileW(L"client_started.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, utf8, static_cast<DWORD>(length > 0 ? length - 1 : 0), &written, nullptr);
        CloseHandle(file);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        RecordLaunch();
        return 0;
    }
    printf("%lu\n", GetCurrentProcessId());
    fflush(stdout);
    const std::wstring mode = argv[1];
    if (mode == L"--sleep" && argc > 2) {
        Sleep(static_cast<DWORD>(_wtoi(argv[2])));
    } else if (mode == L"--until-file" && argc > 2) {
        while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES) {
            Sleep(20);
        }
    } else if (mode == L"--forever") {
        Sleep(INFINITE);
    }
    return 0;
}
