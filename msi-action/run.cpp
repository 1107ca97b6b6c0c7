#include "run.h"

#include "file_name.h"
#include "last_error.h"
#include "session.h"

namespace {

// Starts the program with the command line, in the system folder, and
// waits for it: ERROR_SUCCESS with its exit code, or the error of the start
// or the wait.
DWORD Run(const wchar_t* program, Text& commandLine, DWORD& exitCode) {
    wchar_t systemFolder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(systemFolder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return length == 0 ? LastErrorOfFailedCall() : ERROR_INSUFFICIENT_BUFFER;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(program, commandLine.data, nullptr, nullptr, FALSE, 0, nullptr,
                        systemFolder, &startup, &child)) {
        return LastErrorOfFailedCall();
    }
    CloseHandle(child.hThread);
    const bool ended = WaitForSingleObject(child.hProcess, INFINITE) != WAIT_FAILED &&
                       GetExitCodeProcess(child.hProcess, &exitCode);
    const DWORD error = ended ? ERROR_SUCCESS : LastErrorOfFailedCall();
    CloseHandle(child.hProcess);
    return error;
}

}  // namespace

bool RunAndSay(MSIHANDLE install, const wchar_t* program, ProgramRun& run, DWORD& exitCode) {
    if (run.commandLine.cut) {
        Append(run.line, L"\": the command line would be longer than the platform allows");
        Log(install, run.line);
        return false;
    }
    const DWORD error = Run(program, run.commandLine, exitCode);
    Append(run.line, L"\": ");
    Append(run.line, FileNameOf(program));
    if (error != ERROR_SUCCESS) {
        Append(run.line, L" could not be started or waited for, error ");
        AppendCode(run.line, error);
        Log(install, run.line);
        return false;
    }
    Append(run.line, L" ended with ");
    AppendCode(run.line, exitCode);
    return true;
}

bool RunCarried(MSIHANDLE install, const Program& program, const Text& arguments, ProgramRun& run,
                DWORD& exitCode) {
    static Text folder;
    static Text path;
    if (!WriteProgram(install, program, folder, path)) {
        return false;
    }
    Clear(run.commandLine);
    AppendArgument(run.commandLine, path.data);
    AppendChar(run.commandLine, L' ');
    Append(run.commandLine, arguments.data);
    const bool ran = RunAndSay(install, path.data, run, exitCode);
    RemoveRunFolder(install, folder, program);
    return ran;
}
