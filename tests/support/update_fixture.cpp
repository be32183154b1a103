#include "update_fixture.h"

#include <gtest/gtest.h>

#include <wchar.h>

namespace {

void Record(const ProgressState& state, void* context) {
    auto* fixture = static_cast<UpdateFixture*>(context);
    // Only the worker writes the text, and this runs on the worker's thread.
    ProgressStep step{state.percent.load(), state.statusText, state.failed.load()};
    fixture->steps.push_back(step);
    if (fixture->onStep != nullptr) {
        fixture->onStep(*fixture, step);
    }
}

}  // namespace

UpdateFixture::UpdateFixture() {
    install = folder / L"Norvane Ünï Install";
    roaming = folder / L"roaming";
    archive = folder / L"downloads\\update 1.2.tar";
    MakeDirectories(install + L"\\update");
    MakeDirectories(roaming);
    InitializeCriticalSection(&state.lock);
    state.observer = Record;
    state.observerContext = this;
    window = CreateWindowExW(0, L"STATIC", L"worker-test", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr,
                             nullptr, nullptr);
    state.window = window;
}

UpdateFixture::~UpdateFixture() {
    DestroyWindow(window);
    DeleteCriticalSection(&state.lock);
}

void UpdateFixture::WriteUpdateArchive(const std::vector<ArchiveMember>& members) {
    WriteArchive(archive, MakeTarArchive(members));
}

std::unique_ptr<UpdateJob> UpdateFixture::MakeJob(int32_t clientPid) const {
    auto job = std::make_unique<UpdateJob>();
    job->clientPid = clientPid;
    wcscpy_s(job->archivePath, archive.c_str());
    wcscpy_s(job->installDir, install.c_str());
    wcscpy_s(job->exeName, TestProgramPath(L"fake-client.exe").c_str());
    return job;
}

std::vector<std::wstring> UpdateFixture::StatusSequence() const {
    std::vector<std::wstring> statuses;
    for (const ProgressStep& step : steps) {
        if (statuses.empty() || statuses.back() != step.status) {
            statuses.push_back(step.status);
        }
    }
    return statuses;
}

std::vector<int> UpdateFixture::PercentSequence() const {
    std::vector<int> percents;
    for (const ProgressStep& step : steps) {
        if (percents.empty() || percents.back() != step.percent) {
            percents.push_back(step.percent);
        }
    }
    return percents;
}

bool UpdateFixture::CloseRequested() {
    MSG message;
    return PeekMessageW(&message, window, kCloseRequest, kCloseRequest, PM_REMOVE) != 0;
}

void WriteSampleInstallation(const std::wstring& install) {
    WriteTextFile(install + L"\\norvane_version.txt", "1.1");
    WriteTextFile(install + L"\\game.dat", "old game");
    WriteTextFile(install + L"\\norvane_launcher.cfg", "player config");
    WriteTextFile(install + L"\\data\\audio\\music.ogg", "player music");
    WriteTextFile(install + L"\\data\\audio\\mine.ogg", "player only");
    WriteTextFile(install + L"\\data\\assets\\arrow\\a.png", "player arrow");
}

void ExpectPlayersDataKept(const std::wstring& install, const std::wstring& perUserConfig) {
    EXPECT_EQ(ReadTextFile(install + L"\\data\\audio\\music.ogg"), "player music");
    EXPECT_EQ(ReadTextFile(install + L"\\data\\audio\\mine.ogg"), "player only");
    EXPECT_EQ(ReadTextFile(install + L"\\data\\audio\\new.ogg"), "update only");
    EXPECT_EQ(ReadTextFile(install + L"\\data\\assets\\arrow\\a.png"), "player arrow");
    EXPECT_FALSE(PathExists(install + L"\\data\\assets\\arrows"));
    EXPECT_EQ(ReadTextFile(perUserConfig), "player config");
}

bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!PathExists(path)) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(20);
    }
    return true;
}
