// Win32 backend of child processes: CreateProcessW with a command line quoted the way
// the C runtime splits it again.
#include "platform/ChildProcess.h"
#include "platform/win32/WideText.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <stdexcept>

namespace lvplatform {
namespace {

// Quotes one argument so CommandLineToArgvW and the C runtime give it back unchanged.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            out.append(backslashes * 2 + 1, L'\\');
        else
            out.append(backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

class Win32Child final : public IChildProcess {
public:
    explicit Win32Child(PROCESS_INFORMATION info) : FInfo(info) {}
    ~Win32Child() override {
        CloseHandle(FInfo.hThread);
        CloseHandle(FInfo.hProcess);
    }
    Win32Child(const Win32Child&) = delete;
    Win32Child& operator=(const Win32Child&) = delete;
    long Id() const override { return static_cast<long>(FInfo.dwProcessId); }
    std::optional<std::string> Ended() override {
        if (WaitForSingleObject(FInfo.hProcess, 0) != WAIT_OBJECT_0)
            return std::nullopt;
        return ExitText();
    }
    std::string Wait() override {
        WaitForSingleObject(FInfo.hProcess, INFINITE);
        return ExitText();
    }
    void Stop() override { TerminateProcess(FInfo.hProcess, 1); }

private:
    std::string ExitText() const {
        DWORD code = 0;
        GetExitCodeProcess(FInfo.hProcess, &code);
        return "status " + std::to_string(code);
    }
    PROCESS_INFORMATION FInfo;
};

} // namespace

std::unique_ptr<IChildProcess> StartChildProcess(const std::vector<std::string>& argv) {
    if (argv.empty())
        throw std::invalid_argument("no program to start");
    std::wstring line;
    for (const std::string& a : argv) {
        if (!line.empty())
            line.push_back(L' ');
        line += Quoted(win32::Wide(a));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        throw std::runtime_error("cannot start " + argv[0] + ": " +
                                 win32::SystemErrorText(GetLastError()));
    return std::make_unique<Win32Child>(info);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i)
        args.push_back(win32::Narrow(wide[i]));
    LocalFree(wide);
    return args;
}

void WatchPauseRequests() {}

std::optional<bool> TakePauseRequest() {
    return std::nullopt;
}

} // namespace lvplatform
