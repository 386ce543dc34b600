// Searching one sub-folder of many identifiers for the few files of one identifier,
// against the floor any search must pay: a plain opendir/readdir loop with a byte
// prefix compare and a stat of the matches. Both run in the same iteration, one after
// the other (alternating which goes first), over the same cached folder; the counters give
// nanoseconds per entry and the ratio search/floor.
#include "images/Orlenza.ImageListController.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* Identifier = "12345678";
constexpr int Matches = 5;

std::filesystem::path BenchRoot() {
    static const std::filesystem::path root = [] {
        std::string templ =
            (std::filesystem::temp_directory_path() / "lv-images-bench-XXXXXX").string();
        if (!::mkdtemp(templ.data()))
            throw std::runtime_error("mkdtemp failed");
        return std::filesystem::path(templ);
    }();
    return root;
}

// <root>/n<count>/1234/ holding `count` files, `Matches` of them of the identifier,
// the rest of other identifiers that share the sub-folder (12340000~1.tif, ...).
std::string SourceFor(int count) {
    static std::map<int, std::string> made;
    if (auto it = made.find(count); it != made.end())
        return it->second;
    const std::filesystem::path source = BenchRoot() / ("n" + std::to_string(count));
    const std::filesystem::path folder = source / "1234";
    std::filesystem::create_directories(folder);
    static const char* const extensions[] = {".tif", ".png", ".jpg", ".tif", ".lva"};
    // The others are hard links to one empty file: a directory entry each, no new inode,
    // which keeps setting up 100,000 entries quick.
    // ext4 allows 65,000 links to one inode, so a new blank file every 50,000 entries.
    std::filesystem::path blank;
    for (int i = 0; i < count; ++i) {
        char name[64];
        if (i < Matches) {
            std::snprintf(name, sizeof name, "%s~%d%s", Identifier, i + 1, extensions[i]);
            std::ofstream(folder / name) << "container";
        } else {
            if (i % 50000 == Matches || blank.empty()) {
                blank = BenchRoot() / ("blank" + std::to_string(count) + "-" + std::to_string(i));
                std::ofstream(blank).put('x');
            }
            const int other = (i * 7919) % 10000;
            std::snprintf(name, sizeof name, "1234%04d~%d%s", other == 5678 ? 5679 : other,
                          i / 10000 + 1, extensions[i % 4]);
            if (::link(blank.c_str(), (folder / name).c_str()) != 0 && errno != EEXIST)
                throw std::runtime_error("cannot create bench files");
        }
    }
    return made[count] = source.string() + "/";
}

// The floor: what reading the folder and looking at the matches costs at the least.
int PlainSearch(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    const std::size_t prefixLength = std::strlen(Identifier);
    int found = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (std::strncmp(e->d_name, Identifier, prefixLength) != 0)
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0)
            ++found;
    }
    ::closedir(dir);
    return found;
}

void BM_SearchVsPlainLoop(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::string source = SourceFor(count);
    const std::string folder = source + "1234/";
    const std::vector<std::string> sources{source};
    using Clock = std::chrono::steady_clock;
    double floorSeconds = 0;
    double searchSeconds = 0;
    bool searchFirst = false;
    for (auto _ : state) {
        // Alternate which goes first, so neither always meets a colder cache.
        searchFirst = !searchFirst;
        int plain = 0;
        std::vector<TLumivaneImage> images;
        const auto timeFloor = [&] {
            const auto t0 = Clock::now();
            plain = PlainSearch(folder);
            return std::chrono::duration<double>(Clock::now() - t0).count();
        };
        const auto timeSearch = [&] {
            const auto t0 = Clock::now();
            images = TImageListController::ImagesFor(sources, Identifier, "****");
            return std::chrono::duration<double>(Clock::now() - t0).count();
        };
        double search = 0;
        double plainTime = 0;
        if (searchFirst) {
            search = timeSearch();
            plainTime = timeFloor();
        } else {
            plainTime = timeFloor();
            search = timeSearch();
        }
        if (plain != Matches || static_cast<int>(images.size()) != Matches) {
            state.SkipWithError("wrong number of matches");
            break;
        }
        benchmark::DoNotOptimize(images.data());
        floorSeconds += plainTime;
        searchSeconds += search;
        state.SetIterationTime(search);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["floor_ns_per_entry"] = floorSeconds / runs / count * 1e9;
    state.counters["search_ns_per_entry"] = searchSeconds / runs / count * 1e9;
    state.counters["ratio"] = floorSeconds > 0 ? searchSeconds / floorSeconds : 0;
}

BENCHMARK(BM_SearchVsPlainLoop)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(BenchRoot(), ec);
    return 0;
}
