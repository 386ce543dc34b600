// POSIX backend of the end requests: the self-pipe pattern. The handler only writes one
// byte, the one thing that is safe inside a signal handler.
#include "platform/EndRequests.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace lvplatform {
namespace {

int gPipe[2] = {-1, -1};

extern "C" void OnEndRequest(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

int WatchEndRequests() {
    if (gPipe[0] >= 0)
        return gPipe[0];
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        gPipe[0] = gPipe[1] = -1;
        return -1;
    }
    for (int s : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue; // started with it ignored (nohup, a background job): keep it so
        struct sigaction sa {};
        sa.sa_handler = OnEndRequest;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(s, &sa, nullptr);
    }
    return gPipe[0];
}

int TakeEndRequest() {
    int last = 0;
    unsigned char byte = 0;
    while (gPipe[0] >= 0 && ::read(gPipe[0], &byte, 1) == 1)
        last = byte;
    return last;
}

} // namespace lvplatform
