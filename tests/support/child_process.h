// A program a test starts, never left running: the test waits for it with a time limit, and one
// still running when its owner goes (a test that failed half way, a program that hung) is ended.
#pragma once

#include <windows.h>

#include <string>

class ChildProcess {
public:
    explicit ChildProcess(std::string commandLine) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        started_ = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &process_) != FALSE;
        if (started_) CloseHandle(process_.hThread);
    }
    ~ChildProcess() {
        if (!started_) return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 1);
        CloseHandle(process_.hProcess);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return started_; }
    HANDLE handle() const { return process_.hProcess; }

    // Waits until the program has ended, at most `milliseconds`. A program that has not ended
    // by then is ended here, and the answer is false.
    bool Finish(DWORD milliseconds) {
        if (!started_) return false;
        if (WaitForSingleObject(process_.hProcess, milliseconds) == WAIT_OBJECT_0) return true;
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 10000);
        return false;
    }
    // The program's exit code; STILL_ACTIVE while it runs, 0xFFFFFFFF when it never started.
    DWORD ExitCode() const {
        DWORD code = 0xFFFFFFFF;
        if (started_) GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION process_ = {};
    bool started_ = false;
};
