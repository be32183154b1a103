// Stands in for the game client. Started by the updater (no arguments) it records the folder it
// was started in (UTF-16) and exits. Started by a test it waits:
//   fake-client.exe --until-file PATH   exits once PATH exists
//   fake-client.exe --forever           never exits on its own
// Planted as a tar.exe where no archive tool may be looked for, it "succeeds" having done nothing.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"--until-file" && argc > 2) {
        while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES) {
            Sleep(20);
        }
    } else if (mode == L"--forever") {
        Sleep(INFINITE);
    } else if (FILE* record = _wfopen(L"client_started.txt", L"wb")) {
        wchar_t folder[MAX_PATH] = {};
        fwrite(folder, sizeof(wchar_t), GetCurrentDirectoryW(MAX_PATH, folder), record);
        fclose(record);
    }
    return 0;
}
