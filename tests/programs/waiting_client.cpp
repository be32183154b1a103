// A client that never exits on its own. It prints its Windows process id first, because under
// Wine that id differs from the Linux one a script sees.
#include <windows.h>

#include <stdio.h>

int wmain() {
    printf("%lu\n", GetCurrentProcessId());
    fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
