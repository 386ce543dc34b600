#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace lvplatform {
namespace {

class PosixView final : public ISharedMemoryView {
public:
    PosixView(void* data, std::size_t size)
        : data_(static_cast<std::uint8_t*>(data)), size_(size) {}
    ~PosixView() override {
        if (data_)
            munmap(data_, size_);
    }
    PosixView(const PosixView&) = delete;
    PosixView& operator=(const PosixView&) = delete;
    std::uint8_t* Data() const override { return data_; }
    std::size_t Size() const override { return data_ ? size_ : 0; }

private:
    std::uint8_t* data_;
    std::size_t size_;
};

std::unique_ptr<ISharedMemoryView> Unmapped() {
    return std::make_unique<PosixView>(nullptr, 0);
}

std::unique_ptr<ISharedMemoryView> MapFd(int fd, std::size_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED)
        return Unmapped();
    return std::make_unique<PosixView>(p, size);
}

} // namespace

std::unique_ptr<ISharedMemoryView> OpenSharedMemory(const std::string& name, std::size_t size) {
    if (name.empty() || name.find('\0') != std::string::npos)
        return Unmapped();
    int fd = shm_open(name.c_str(), O_RDWR, 0);
    if (fd < 0)
        return Unmapped();
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(size)) {
        close(fd);
        return Unmapped();
    }
    return MapFd(fd, size);
}

std::unique_ptr<ISharedMemoryView> CreateSharedMemory(const std::string& name, std::size_t size) {
    if (name.empty())
        throw std::invalid_argument("block name is empty");
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot create shared memory block '" + name + "'");
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_size < static_cast<off_t>(size) &&
        ftruncate(fd, static_cast<off_t>(size)) != 0) {
        close(fd);
        throw std::runtime_error("cannot size shared memory block '" + name + "'");
    }
    auto view = MapFd(fd, size);
    if (!view->IsMapped())
        throw std::runtime_error("cannot map shared memory block '" + name + "'");
    return view;
}

bool RemoveSharedMemory(const std::string& name) {
    return shm_unlink(name.c_str()) == 0;
}

bool SharedMemoryExists(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos)
        return false;
    int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

} // namespace lvplatform
