#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

namespace lvplatform {
namespace {

// A block another process truncates turns every access to a page past its new end into
// SIGBUS. Accesses to a block run under a guard: the handler jumps back out of the
// access, which then fails. A SIGBUS outside a guard is not ours and goes on to the
// handler that was installed before, or ends the process as it would have without us.
thread_local sigjmp_buf* volatile tGuard = nullptr;
struct sigaction gPrevious {};

extern "C" void OnBusError(int signal, siginfo_t* info, void* context) {
    if (sigjmp_buf* env = tGuard) {
        tGuard = nullptr;
        siglongjmp(*env, 1);
    }
    if (gPrevious.sa_flags & SA_SIGINFO) {
        if (gPrevious.sa_sigaction) {
            gPrevious.sa_sigaction(signal, info, context);
            return;
        }
    } else if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN) {
        gPrevious.sa_handler(signal);
        return;
    }
    // Default action: a fault repeats once the handler returns, a sent signal is raised.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGBUS, &dfl, nullptr);
    if (info == nullptr || info->si_code <= 0)
        raise(SIGBUS);
}

void InstallGuard() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_sigaction = OnBusError;
        sigemptyset(&sa.sa_mask);
        // SA_NODEFER: the jump out of the handler skips the mask restore, so the signal
        // must not be blocked while the handler runs.
        sa.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigaction(SIGBUS, &sa, &gPrevious);
    });
}

// The two guarded primitives. Kept out of line so nothing of the caller's frame lives
// across the jump.
[[gnu::noinline]] bool GuardedCopy(void* dst, const void* src, std::size_t n) {
    sigjmp_buf env;
    if (sigsetjmp(env, 0) != 0)
        return false;
    tGuard = &env;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(dst, src, n);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tGuard = nullptr;
    return true;
}

[[gnu::noinline]] bool GuardedExchange(std::uint8_t* p, std::uint8_t replacement,
                                       std::uint8_t* previous) {
    sigjmp_buf env;
    if (sigsetjmp(env, 0) != 0)
        return false;
    tGuard = &env;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    *previous = std::atomic_ref<std::uint8_t>(*p).exchange(replacement);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tGuard = nullptr;
    return true;
}

struct TIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    bool operator==(const TIdentity&) const = default;
};

class PosixView final : public ISharedMemoryView {
public:
    PosixView() = default;
    PosixView(std::string name, int fd, std::uint8_t* data, std::size_t size, TIdentity id)
        : name_(std::move(name)), fd_(fd), data_(data), size_(size), id_(id), live_(true),
          reportedLive_(true) {
        InstallGuard();
    }
    ~PosixView() override { Release(); }
    PosixView(const PosixView&) = delete;
    PosixView& operator=(const PosixView&) = delete;

    std::size_t Size() const override { return live_ ? size_ : 0; }
    std::uint8_t* Data() const override { return data_; }

    bool Read(std::size_t offset, void* out, std::size_t n) const override {
        if (Fits(offset, n)) {
            if (GuardedCopy(out, data_ + offset, n))
                return true;
            Faulted();
        }
        std::memset(out, 0, n);
        return false;
    }

    bool Write(std::size_t offset, const void* in, std::size_t n) override {
        if (Fits(offset, n)) {
            if (GuardedCopy(data_ + offset, in, n))
                return true;
            Faulted();
        }
        return false;
    }

    std::optional<std::uint8_t> Exchange(std::size_t offset, std::uint8_t replacement) override {
        std::uint8_t previous = 0;
        if (Fits(offset, 1)) {
            if (GuardedExchange(data_ + offset, replacement, &previous))
                return previous;
            Faulted();
        }
        return std::nullopt;
    }

    TChange Refresh() override {
        if (fd_ < 0)
            return TChange::None;
        struct stat st {};
        const bool known = fstat(fd_, &st) == 0;
        // The name can stand for another block only once ours lost it (no links left), so
        // the name is opened again only then: this runs several times a second while idle.
        if (!name_.empty() && (!known || st.st_nlink == 0) && FollowName())
            return TChange::Replaced;
        const bool live = known && st.st_size >= static_cast<off_t>(size_);
        // A fault since the last look means the block was short for a while, even when
        // it is whole again now (and then holds zeros where the caller wrote).
        const bool changed = live != reportedLive_ || faulted_;
        live_ = reportedLive_ = live;
        faulted_ = false;
        return changed ? TChange::Resized : TChange::None;
    }

private:
    bool Fits(std::size_t offset, std::size_t n) const {
        return live_ && offset <= size_ && n <= size_ - offset;
    }
    void Faulted() const {
        live_ = false;
        faulted_ = true;
    }
    // Maps the block the name stands for now when that is another block of full size.
    bool FollowName() {
        int fd = shm_open(name_.c_str(), O_RDWR, 0);
        if (fd < 0)
            return false;
        struct stat st {};
        if (fstat(fd, &st) == 0 && TIdentity{st.st_dev, st.st_ino} != id_ &&
            st.st_size >= static_cast<off_t>(size_)) {
            void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (p != MAP_FAILED) {
                Release();
                fd_ = fd;
                data_ = static_cast<std::uint8_t*>(p);
                id_ = {st.st_dev, st.st_ino};
                live_ = reportedLive_ = true;
                faulted_ = false;
                return true;
            }
        }
        close(fd);
        return false;
    }

    void Release() {
        if (data_)
            munmap(data_, size_);
        if (fd_ >= 0)
            close(fd_);
        data_ = nullptr;
        fd_ = -1;
    }

    std::string name_;
    int fd_ = -1;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    TIdentity id_;
    // A failed access (the block shrank under it) makes the view inert until a Refresh
    // finds the block whole again.
    mutable bool live_ = false;
    mutable bool faulted_ = false;
    bool reportedLive_ = false; // as the last Refresh told the caller
};

// Maps `size` bytes of the open block `fd`, which the view then owns; null on failure
// (fd closed).
std::unique_ptr<ISharedMemoryView> MapFd(const std::string& name, int fd, std::size_t size) {
    struct stat st {};
    void* p = MAP_FAILED;
    if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(size))
        p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    return std::make_unique<PosixView>(name, fd, static_cast<std::uint8_t*>(p), size,
                                       TIdentity{st.st_dev, st.st_ino});
}

bool UsableName(const std::string& name) {
    return !name.empty() && name.find('\0') == std::string::npos;
}

} // namespace

std::unique_ptr<ISharedMemoryView> OpenSharedMemory(const std::string& name, std::size_t size) {
    if (!UsableName(name) || size == 0)
        return std::make_unique<PosixView>();
    int fd = shm_open(name.c_str(), O_RDWR, 0);
    if (fd < 0)
        return std::make_unique<PosixView>();
    auto view = MapFd(name, fd, size);
    return view ? std::move(view) : std::make_unique<PosixView>();
}

std::unique_ptr<ISharedMemoryView> CreateSharedMemory(const std::string& name, std::size_t size) {
    if (!UsableName(name))
        throw std::invalid_argument("block name is empty or holds a zero byte");
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot create shared memory block '" + name + "'");
    struct stat st {};
    if (fstat(fd, &st) != 0 ||
        (st.st_size < static_cast<off_t>(size) && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
        close(fd);
        throw std::runtime_error("cannot size shared memory block '" + name + "'");
    }
    auto view = MapFd(name, fd, size);
    if (!view)
        throw std::runtime_error("cannot map shared memory block '" + name + "'");
    return view;
}

bool RemoveSharedMemory(const std::string& name) {
    return shm_unlink(name.c_str()) == 0;
}

bool SharedMemoryExists(const std::string& name) {
    if (!UsableName(name))
        return false;
    int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

} // namespace lvplatform
