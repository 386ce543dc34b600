// What hostile containers cost a search and a read, against a floor from the same run:
// - a search of a folder of 20 containers that another process holds locked, against the
//   same search of 20 plain image files (ratio locked/plain; the listing must not wait);
// - the same 20 locked containers read on a worker thread, for the time that work takes
//   off the caller's thread;
// - the peak memory of reading a 256 MiB container, against reading one of 64 KiB.
// Run: build/bin/images_container_bench   (folders under $TMPDIR, removed after)
#include "images/Orlenza.ImageListController.h"
#include "images/Orlenza.Types.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Median of `runs` timings of `body`, in milliseconds.
double MedianMs(int runs, const std::function<void()>& body) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        body();
        times.push_back(Milliseconds(Clock::now() - start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

long StatusKiB(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(name, 0) == 0)
            return std::stol(line.substr(std::strlen(name)));
    return -1;
}

// Peak memory growth of `body` in KiB (the peak reset first).
long PeakGrowthKiB(const std::function<void()>& body) {
    {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";
    }
    const long before = StatusKiB("VmRSS:");
    body();
    return StatusKiB("VmHWM:") - before;
}

// A child process holding exclusive locks on files until this object goes.
class LockHolder {
public:
    explicit LockHolder(const std::vector<fs::path>& files) {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            throw std::runtime_error("pipe failed");
        FPid = ::fork();
        if (FPid == 0) {
            // Only the ends this side uses stay open, so the parent's close ends the wait.
            ::close(ready[0]);
            ::close(release[1]);
            for (const fs::path& file : files) {
                const int fd = ::open(file.c_str(), O_RDONLY);
                if (fd >= 0)
                    ::flock(fd, LOCK_EX);
            }
            (void)!::write(ready[1], "1", 1);
            char c;
            (void)!::read(release[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        FRelease = release[1];
        char c;
        (void)!::read(ready[0], &c, 1);
        ::close(ready[0]);
    }
    ~LockHolder() {
        ::close(FRelease);
        ::waitpid(FPid, nullptr, 0);
    }

private:
    pid_t FPid = -1;
    int FRelease = -1;
};

} // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string templ = (fs::temp_directory_path() / "lv-container-bench-XXXXXX").string();
    if (!::mkdtemp(templ.data()))
        return 1;
    const fs::path root = templ;
    const std::string locked = (root / "locked").string() + "/";
    const std::string plain = (root / "plain").string() + "/";
    fs::create_directories(root / "locked/1234");
    fs::create_directories(root / "plain/1234");
    std::vector<fs::path> held;
    for (int i = 1; i <= 20; ++i) {
        const std::string n = "12345678~" + std::to_string(i);
        held.push_back(root / "locked/1234" / (n + ".lva"));
        std::ofstream(held.back()) << "12345678~" << i << ".tif";
        std::ofstream(root / "plain/1234" / (n + ".tif")) << "tif";
    }

    {
        LockHolder holder(held);
        const int runs = 21;
        std::size_t found = 0;
        const double lockedMs = MedianMs(runs, [&] {
            found = TImageListController::ImagesFor({locked}, "12345678", "****").size();
        });
        const double plainMs =
            MedianMs(runs, [&] { TImageListController::ImagesFor({plain}, "12345678", "****"); });
        std::printf("search, 20 locked containers: %.3f ms (median of %d, %zu found)\n", lockedMs,
                    runs, found);
        std::printf("search, 20 plain files (floor): %.3f ms\n", plainMs);
        std::printf("ratio locked/plain: %.2f\n", lockedMs / plainMs);

        // The reads themselves, made where they belong: on a worker thread.
        auto images = TImageListController::ImagesFor({locked}, "12345678", "****");
        const auto start = Clock::now();
        std::thread worker([&] {
            for (TLumivaneImage& image : images) {
                TLumivaneCantOpenReason reason = corNone;
                std::string text;
                ReadAliasText(image.FullFileName(), reason, text);
                image.SetContainerText(reason, std::move(text));
            }
        });
        worker.join();
        int lockedCount = 0;
        for (const TLumivaneImage& image : images)
            lockedCount += image.CantOpenReason() == corLocked;
        std::printf("reading them on a worker: %.0f ms, %d of %zu locked (pauses of up to "
                    "100+200+300 ms each)\n",
                    Milliseconds(Clock::now() - start), lockedCount, images.size());
    }

    const fs::path huge = root / "huge.lva";
    std::ofstream(huge).close();
    fs::resize_file(huge, 256u << 20);
    const fs::path bound = root / "bound.lva";
    std::ofstream(bound) << std::string(MaxContainerBytes, 'a');
    TLumivaneCantOpenReason reason = corNone;
    std::string text;
    const long boundKiB = PeakGrowthKiB([&] { ReadAliasText(bound.string(), reason, text); });
    std::printf("read of a 64 KiB container (floor): peak +%ld KiB, reason %d, %zu bytes\n",
                boundKiB, reason, text.size());
    reason = corNone;
    const long hugeKiB = PeakGrowthKiB([&] { ReadAliasText(huge.string(), reason, text); });
    std::printf("read of a 256 MiB container: peak +%ld KiB, reason %d, %zu bytes\n", hugeKiB,
                reason, text.size());

    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
