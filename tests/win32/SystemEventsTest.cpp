// What the system itself produces, not only the codes we map: a locked byte range's
// error 33 taken as locked, the user's month and day names from GetLocaleInfoEx, and a
// console control event that reaches the handler and ends the reference host the orderly
// way.
#include "images/Orlenza.Types.h"
#include "platform/EndRequests.h"
#include "platform/FileSystem.h"
#include "platform/LocaleNames.h"

#include "Win32TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using lvplatform::win32::Narrow;
using lvplatform::win32::SystemErrorText;
using lvplatform::win32::Wide;
using win32test::TTempFolder;
using win32test::WaitFor;

struct THandle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~THandle() {
        if (h != INVALID_HANDLE_VALUE && h != nullptr)
            CloseHandle(h);
    }
};

TEST(SystemErrors, ALockedRangeFailsWithError33AndReadsAsLocked) {
    TTempFolder tmp;
    const fs::path file = tmp.File("12345678~1.lva", "12345678~1.tif");
    // One handle locks the bytes, as a program holding a record does; a second handle's
    // lock of them fails with the system's own lock violation. (Windows also fails a read
    // of locked bytes with it; Wine does not enforce locks on reads.)
    THandle owner, reader;
    owner.h = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(owner.h, INVALID_HANDLE_VALUE);
    OVERLAPPED at{};
    ASSERT_TRUE(
        LockFileEx(owner.h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 100, 0, &at));
    reader.h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader.h, INVALID_HANDLE_VALUE);
    OVERLAPPED again{};
    EXPECT_FALSE(LockFileEx(reader.h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 100,
                            0, &again));
    const DWORD error = GetLastError();
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_TRUE(IsLockedError(SystemErrorText(error))) << SystemErrorText(error);
    EXPECT_FALSE(IsSecuredError(SystemErrorText(error)));
    // Our own read never gets as far as the range: its open shares nothing, so any other
    // handle makes it fail first, with error 32, which counts as locked as well.
    const auto read = lvplatform::ReadFileExclusive(file, 100);
    EXPECT_EQ(read.ErrorCode, ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(IsLockedError(read.Message));
}

TEST(LocaleNames, MonthAndDayNamesAreTheUsersLocalesFromGetLocaleInfoEx) {
    auto system = [](LCTYPE item) {
        wchar_t buffer[128] = {};
        const int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, item, buffer, 128);
        return n > 1 ? Narrow(std::wstring_view(buffer, static_cast<std::size_t>(n - 1)))
                     : std::string();
    };
    wchar_t locale[LOCALE_NAME_MAX_LENGTH] = {};
    ASSERT_GT(
        GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SNAME, locale, LOCALE_NAME_MAX_LENGTH), 1);
    SCOPED_TRACE(Narrow(locale));
    const lvplatform::TDateNames names = lvplatform::UserDateNames();
    for (std::size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(names.LongMonth[i], system(static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + i)));
        EXPECT_EQ(names.ShortMonth[i], system(static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + i)));
    }
    // The system's week starts on Monday (LOCALE_SDAYNAME1); ours on Sunday.
    const LCTYPE days[7] = {LOCALE_SDAYNAME7, LOCALE_SDAYNAME1, LOCALE_SDAYNAME2, LOCALE_SDAYNAME3,
                            LOCALE_SDAYNAME4, LOCALE_SDAYNAME5, LOCALE_SDAYNAME6};
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(names.LongDay[i], system(days[i])) << i;
        EXPECT_EQ(names.ShortDay[i], system(days[i] + (LOCALE_SABBREVDAYNAME1 - LOCALE_SDAYNAME1)))
            << i;
    }
    // Names in another language arrive as UTF-8: German March has a letter outside ASCII.
    wchar_t march[64] = {};
    ASSERT_GT(GetLocaleInfoEx(L"de-DE", LOCALE_SMONTHNAME3, march, 64), 1);
    EXPECT_EQ(Narrow(march), "M\xC3\xA4rz");
}

// A process on our console, with its standard output in a file.
struct TConsoleChild {
    PROCESS_INFORMATION Info{};
    fs::path Output;

    TConsoleChild(const std::wstring& commandLine, const fs::path& output) : Output(output) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        THandle out;
        out.h = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.h;
        startup.hStdError = out.h;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::wstring line = commandLine;
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                            &startup, &Info))
            throw std::runtime_error("cannot start: " + SystemErrorText(GetLastError()));
    }
    ~TConsoleChild() {
        if (WaitForSingleObject(Info.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(Info.hProcess, 99);
            WaitForSingleObject(Info.hProcess, 10000);
        }
        CloseHandle(Info.hThread);
        CloseHandle(Info.hProcess);
    }
    std::string Text() const {
        std::ifstream in(Output, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // The exit code once it has ended within the limit; empty otherwise.
    std::optional<DWORD> WaitExit(DWORD limitMs) const {
        if (WaitForSingleObject(Info.hProcess, limitMs) != WAIT_OBJECT_0)
            return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(Info.hProcess, &code);
        return code;
    }
};

TEST(EndRequests, ACtrlCReachesTheHandlerAndEndsTheHostInOrder) {
    // A console of the test's own, shared only with the host started below: a Ctrl+C on it
    // goes to both. (Wine delivers Ctrl+C to a whole console, not Ctrl+Break nor an event
    // for one process group.)
    FreeConsole();
    ASSERT_TRUE(AllocConsole()) << SystemErrorText(GetLastError());
    EXPECT_EQ(lvplatform::WatchEndRequests(), -1) << "no descriptor on Windows: the loop polls";
    EXPECT_EQ(lvplatform::TakeEndRequest(), 0);

    TTempFolder tmp;
    const std::string name = "lvtest-ctrl-" + std::to_string(GetCurrentProcessId());
    const fs::path host = fs::path(Wide(win32test::OwnExe())).parent_path() / LV_HOST_EXE;
    TConsoleChild served(L"\"" + host.wstring() + L"\" serve " + Wide(name),
                         tmp.Root() / L"host.txt");
    ASSERT_TRUE(WaitFor([&] { return served.Text().find("ready " + name) != std::string::npos; },
                        std::chrono::seconds(60)))
        << served.Text();

    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << SystemErrorText(GetLastError());
    // Our handler took it (the process goes on, the request waits for the loop) ...
    int request = 0;
    EXPECT_TRUE(WaitFor([&] { return (request = lvplatform::TakeEndRequest()) != 0; },
                        std::chrono::seconds(60)));
    EXPECT_EQ(request, CTRL_C_EVENT + 1);
    // ... and the host left its loop, removed its block and ended with 0.
    EXPECT_EQ(served.WaitExit(60000), std::optional<DWORD>(0)) << served.Text();
    EXPECT_NE(served.Text().find("removed " + name), std::string::npos) << served.Text();
}

} // namespace
