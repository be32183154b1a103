// Stands in for the game client. Started by the updater (no arguments) it records the folder it
// was started in (UTF-16) and exits. Started by a test or a script as
//   fake-client.exe --until-file PATH
// it prints its process id (under Wine not the Linux one) and exits once PATH exists.
// Planted as a tar.exe where no archive tool may be looked for, it "succeeds" having done nothing.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc > 2 && wcscmp(argv[1], L"--until-file") == 0) {
        printf("%lu\n", GetCurrentProcessId());
        fflush(stdout);
        while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES) {
            Sleep(20);
        }
    } else if (FILE* record = argc == 1 ? _wfopen(L"client_started.txt", L"wb") : nullptr) {
        wchar_t folder[MAX_PATH] = {};
        fwrite(folder, sizeof(wchar_t), GetCurrentDirectoryW(MAX_PATH, folder), record);
        fclose(record);
    }
    return 0;
}
