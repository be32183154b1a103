#include "display/progress_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "display/com_apartment.h"
#include "display/progress_state.h"
#include "display/taskbar_progress.h"
#include "global_progress.h"
#include "rendered_frame.h"

namespace {

std::vector<UINT> recorded;
WNDPROC original = nullptr;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    recorded.push_back(message);
    return CallWindowProcW(original, window, message, wParam, lParam);
}

bool Recorded(UINT message) {
    return std::find(recorded.begin(), recorded.end(), message) != recorded.end();
}

class ProgressWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = CreateProgressWindow(GetModuleHandleW(nullptr));
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        if (IsWindow(window)) {
            DestroyWindow(window);
        }
        DrainQueue();
        ResetGlobalProgress();
    }

    // Whether the window posted WM_QUIT, i.e. its destruction would end the message loop.
    static bool DrainQueue() {
        bool quit = false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            quit = quit || message.message == WM_QUIT;
            if (message.message != WM_QUIT) {
                DispatchMessageW(&message);
            }
        }
        return quit;
    }

    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return SendMessageW(window, message, wParam, lParam);
    }

    LRESULT HitTest(LONG x, LONG y) {
        return Send(WM_NCHITTEST, 0, MAKELPARAM(static_cast<SHORT>(x), static_cast<SHORT>(y)));
    }

    HWND window = nullptr;
};

TEST_F(ProgressWindowTest, ClassHasNoBackgroundBrushAndSystemIconAndCursor) {
    WNDCLASSEXW info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), L"MHUpdater", &info));
    EXPECT_EQ(info.style, 0u);
    EXPECT_EQ(info.lpfnWndProc, &UpdaterWndProc);
    EXPECT_EQ(info.hbrBackground, nullptr);
    EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(info.hIcon, LoadIconW(nullptr, IDI_APPLICATION));
    EXPECT_EQ(info.cbClsExtra, 0);
    EXPECT_EQ(info.cbWndExtra, 0);
}

TEST_F(ProgressWindowTest, IsABorderlessCentredPopupWithATaskbarButton) {
    wchar_t text[64] = {};
    GetClassNameW(window, text, 64);
    EXPECT_STREQ(text, L"MHUpdater");
    GetWindowTextW(window, text, 64);
    EXPECT_STREQ(text, L"MossHarbor Updater");

    // The system adds WS_CLIPSIBLINGS to every top-level window.
    const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    EXPECT_EQ(style & ~DWORD{WS_CLIPSIBLINGS}, DWORD{WS_POPUP | WS_VISIBLE});
    const auto exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
    EXPECT_EQ(exStyle, DWORD{WS_EX_APPWINDOW});

    RECT frame{};
    GetWindowRect(window, &frame);
    const POINT origin =
        CenteredWindowOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(frame.left, origin.x);
    EXPECT_EQ(frame.top, origin.y);
    EXPECT_EQ(frame.right - frame.left, 480);
    EXPECT_EQ(frame.bottom - frame.top, 215);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 480);
    EXPECT_EQ(client.bottom, 215);
}

TEST_F(ProgressWindowTest, DragsFromAnywhereInside) {
    RECT frame{};
    GetWindowRect(window, &frame);
    EXPECT_EQ(HitTest(frame.left, frame.top), HTCAPTION);
    EXPECT_EQ(HitTest(frame.left + 240, frame.top + 120), HTCAPTION);
    EXPECT_EQ(HitTest(frame.right - 1, frame.bottom - 1), HTCAPTION);
    EXPECT_EQ(HitTest(frame.right + 5, frame.bottom + 5), HTNOWHERE);
}

TEST_F(ProgressWindowTest, EscapeClosesAndEndsTheLoopOtherKeysDoNothing) {
    for (const WPARAM key :
         {WPARAM{VK_RETURN}, WPARAM{VK_SPACE}, WPARAM{'Q'}, WPARAM{VK_F4}, WPARAM{VK_BACK}}) {
        EXPECT_EQ(Send(WM_KEYDOWN, key), 0);
        EXPECT_TRUE(IsWindow(window));
    }
    EXPECT_FALSE(DrainQueue());
    EXPECT_EQ(Send(WM_KEYDOWN, VK_ESCAPE), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(DrainQueue());
}

TEST_F(ProgressWindowTest, CloseAndEscapeAreIgnoredWhileTheInstallationChanges) {
    ASSERT_TRUE(TryEnterProtectedPhase(Progress()));
    Send(WM_KEYDOWN, VK_ESCAPE);
    Send(WM_CLOSE);
    EXPECT_TRUE(IsWindow(window));

    // Once the worker has ended, Esc closes at once again.
    MarkWorkerEnded(Progress());
    Send(WM_KEYDOWN, VK_ESCAPE);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(ProgressWindowTest, CloseRequestsDestroyTheWindow) {
    Send(WM_CLOSE);  // e.g. from the taskbar button, while the worker still waits
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(DrainQueue());

    window = CreateProgressWindow(GetModuleHandleW(nullptr));
    ResetGlobalProgress();
    ASSERT_TRUE(TryEnterProtectedPhase(Progress()));
    PostMessageW(window, kCloseRequest, 0, 0);  // the worker's own close is never refused
    EXPECT_TRUE(DrainQueue());
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(ProgressWindowTest, RepaintRequestInvalidatesEverythingWithoutErasing) {
    original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc)));
    UpdateWindow(window);  // the first paint after creation
    ValidateRect(window, nullptr);
    recorded.clear();

    SetProgress(Progress(), 40);  // no window published: state only
    EXPECT_EQ(Send(kRepaintRequest), 0);
    RECT invalid{};
    ASSERT_TRUE(GetUpdateRect(window, &invalid, FALSE));
    EXPECT_EQ(invalid.left, 0);
    EXPECT_EQ(invalid.top, 0);
    EXPECT_EQ(invalid.right, 480);
    EXPECT_EQ(invalid.bottom, 215);

    UpdateWindow(window);
    EXPECT_TRUE(Recorded(WM_PAINT));
    EXPECT_FALSE(Recorded(WM_ERASEBKGND));
    EXPECT_FALSE(GetUpdateRect(window, nullptr, FALSE));
}

// Requests come once per archive line or copied file; only a change on screen repaints.
TEST_F(ProgressWindowTest, RepaintRequestThatChangesNothingOnScreenLeavesTheWindowAlone) {
    SetProgress(Progress(), 40);
    UpdateWindow(window);
    Send(kRepaintRequest);
    EXPECT_FALSE(GetUpdateRect(window, nullptr, FALSE));

    SetStatus(Progress(), L"Installing files...");  // same bar, new text
    Send(kRepaintRequest);
    EXPECT_TRUE(GetUpdateRect(window, nullptr, FALSE));
    UpdateWindow(window);
    ReportFailure(Progress(), L"Installing files...");  // same text, red
    Send(kRepaintRequest);
    EXPECT_TRUE(GetUpdateRect(window, nullptr, FALSE));

    // Whatever else invalidates the window still gets a full paint.
    UpdateWindow(window);
    InvalidateRect(window, nullptr, FALSE);
    Send(kRepaintRequest);
    EXPECT_TRUE(GetUpdateRect(window, nullptr, FALSE));
}

// The paint shows exactly the frame composed from the shared state at that moment.
TEST_F(ProgressWindowTest, PaintCopiesTheComposedFrameIntoTheWindow) {
    UpdateWindow(window);
    SetProgress(Progress(), 57);
    SetStatus(Progress(), L"Installing files...");
    Send(kRepaintRequest);
    UpdateWindow(window);
    RenderedFrame shown = CaptureWindow(window);
    EXPECT_TRUE(shown.pixels == RenderFrame(TakeSnapshot(Progress())).pixels);
    EXPECT_EQ(shown.At(40 + 205, 120), RGB(40, 40, 40));  // 57 % fills 205 pixels

    ReportFailure(Progress(), L"Extraction failed. The archive may be corrupted.");
    Send(kRepaintRequest);
    UpdateWindow(window);
    shown = CaptureWindow(window);
    EXPECT_TRUE(shown.pixels == RenderFrame(TakeSnapshot(Progress())).pixels);
    EXPECT_EQ(shown.At(40, 120), RGB(230, 75, 45));
}

// Wine offers the taskbar interface as a stub; elsewhere it may be missing altogether.
TEST_F(ProgressWindowTest, TaskbarButtonChangesNothingInTheWindow) {
    const UINT buttonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
    EXPECT_TRUE(IsTaskbarButtonCreatedMessage(buttonCreated));
    const ComApartment com;
    EXPECT_EQ(Send(buttonCreated), 0);
    ReportFailure(Progress(), L"Failed to create extraction directory.");
    Send(kRepaintRequest);
    Send(buttonCreated);  // the shell restarted
    EXPECT_TRUE(IsWindow(window));
    DestroyWindow(window);  // releases the interface before COM goes
}

}  // namespace
