#pragma once

#include <windows.h>

inline constexpr wchar_t kWindowClassName[] = L"MHUpdater";
inline constexpr wchar_t kWindowTitle[] = L"MossHarbor Updater";
inline constexpr int kWindowWidth = 480;
inline constexpr int kWindowHeight = 215;

// Top-left corner that centres the window on a screen of this size (truncating division).
POINT CenteredWindowOrigin(int screenWidth, int screenHeight);

// Registers the class and creates the visible progress window; null on failure.
HWND CreateProgressWindow(HINSTANCE instance);

LRESULT CALLBACK UpdaterWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the message loop until the window has been destroyed.
void RunMessageLoop();
