#include "tools/child_process.h"

#include <windows.h>

#include <string>

#include "tools/held_file_retry.h"
#include "tools/line_splitter.h"
#include "tools/unique_handle.h"

namespace {

// One byte short of the buffer, so a terminating zero always fits behind what was read.
constexpr DWORD kReadSize = 511;

// Returns once every holder of the write end has closed it: the child, and anything the child
// handed it on to. A failed read counts as the end too.
void ReadLinesToEnd(HANDLE readEnd, const LineCallback& onLine) {
    char buffer[kReadSize + 1];
    LineSplitter splitter;
    DWORD count = 0;
    while (ReadFile(readEnd, buffer, kReadSize, &count, nullptr) && count > 0) {
        SplitLines(splitter, buffer, count, onLine);
    }
    FinishLines(splitter, onLine);
}

// A job that ends its processes when its last handle closes, which Windows does as this process
// ends, however it ends: a child must not write on into the update's folders after a kill, a
// crash or the player's Esc, nor keep the download open for the next attempt.
UniqueHandle CreateKillOnCloseJob() {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                        sizeof(limits))) {
        job.Reset();
    }
    return job;
}

}  // namespace

int RunProcess(const ChildLaunch& launch, LineCallback onLine) {
    const bool capture = static_cast<bool>(onLine);
    UniqueHandle readEnd;
    UniqueHandle writeEnd;
    if (capture) {
        SECURITY_ATTRIBUTES inheritable = {};
        inheritable.nLength = sizeof(inheritable);
        inheritable.bInheritHandle = TRUE;
        if (!CreatePipe(readEnd.Receive(), writeEnd.Receive(), &inheritable, 0)) {
            return kChildExitUnknown;
        }
        // The child only writes; a read end inside it could take output meant for this reader.
        SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    const bool redirect = capture || launch.standardInput != nullptr;
    if (redirect) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = launch.standardInput;
        startup.hStdOutput = writeEnd.Get();
        startup.hStdError = writeEnd.Get();
    }
    PROCESS_INFORMATION started = {};
    const UniqueHandle job = CreateKillOnCloseJob();

    // A scanner looking at the program as it starts holds its file for a moment.
    const bool created =
        RetryFileWhileHeld([&] {
            // CreateProcessW may write into the command line it is given.
            std::wstring writableCommandLine = launch.commandLine;
            return Outcome(CreateProcessW(launch.programPath, writableCommandLine.data(), nullptr,
                                          nullptr, redirect ? TRUE : FALSE, CREATE_NO_WINDOW,
                                          nullptr, launch.workingDirectory, &startup, &started));
        }) == ERROR_SUCCESS;
    // From here only the child holds a write end, so reading ends when the child lets go.
    writeEnd.Reset();
    if (!created) {
        return kChildNotStarted;
    }
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    // Tied at once: the tool starts no program of its own that could escape the job first, and
    // a child started suspended would stay so for ever if this process ended before resuming it.
    // Windows 7 refuses a second job to a process already in one (a launcher's): the child then
    // runs untied, which is how it always ran there.
    if (job) {
        AssignProcessToJobObject(job.Get(), process.Get());
    }

    if (capture) {
        // Read before waiting: a child filling the pipe would otherwise never end.
        ReadLinesToEnd(readEnd.Get(), onLine);
        readEnd.Reset();
    }

    WaitForSingleObject(process.Get(), INFINITE);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.Get(), &exitCode)) {
        return kChildExitUnknown;
    }
    return static_cast<int>(exitCode);  // codes from 0x80000000 up come out negative
}
