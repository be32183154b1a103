// Stands in for the game client. Started by the updater (no arguments) it records the folder it
// was started in (UTF-16) and exits. Started by a test or a script it prints its process id
// (under Wine not the Linux one) and exits once the file PATH exists:
//   fake-client.exe --until-file PATH
// Planted as a tar.exe where no archive tool may be looked for, it "succeeds" having done nothing.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (argc > 1) {
        printf("%lu\n", GetCurrentProcessId());
        fflush(stdout);
    }
    if (mode == L"--until-file" && argc > 2) {
        while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES) {
            Sleep(20);
        }
    } else if (FILE* record = _wfopen(L"client_started.txt", L"wb")) {
        wchar_t folder[MAX_PATH] = {};
        fwrite(folder, sizeof(wchar_t), GetCurrentDirectoryW(MAX_PATH, folder), record);
        fclose(record);
    }
    return 0;
}
