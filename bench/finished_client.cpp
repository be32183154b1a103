// Stands in for the game client: exits at once. The bench passes the id of one that has
// already exited, and the updater launches another at the end.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 0;
}
