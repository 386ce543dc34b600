// Win32 backend of the shared control block: a named file mapping on the paging file.
// A mapping smaller than asked for is treated as absent (inert), as on POSIX. A mapping
// cannot shrink and its name cannot be given to another block while a view of it is
// open, so a live view stays live: accesses only check their bounds.
#include "platform/SharedMemory.h"
#include "platform/win32/WideText.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <stdexcept>

namespace lvplatform {
namespace {

class Win32View final : public ISharedMemoryView {
public:
    Win32View(HANDLE mapping, void* data, std::size_t size)
        : mapping_(mapping), data_(static_cast<std::uint8_t*>(data)), size_(size) {}
    ~Win32View() override {
        if (data_)
            UnmapViewOfFile(data_);
        if (mapping_)
            CloseHandle(mapping_);
    }
    Win32View(const Win32View&) = delete;
    Win32View& operator=(const Win32View&) = delete;
    std::uint8_t* Data() const override { return data_; }
    std::size_t Size() const override { return data_ ? size_ : 0; }

    bool Read(std::size_t offset, void* out, std::size_t n) const override {
        if (!InRange(offset, n)) {
            std::memset(out, 0, n);
            return false;
        }
        std::memcpy(out, data_ + offset, n);
        return true;
    }
    bool Write(std::size_t offset, const void* in, std::size_t n) override {
        if (!InRange(offset, n))
            return false;
        std::memcpy(data_ + offset, in, n);
        return true;
    }
    std::optional<std::uint8_t> Exchange(std::size_t offset, std::uint8_t replacement) override {
        if (!InRange(offset, 1))
            return std::nullopt;
        // One atomic exchange: the other process may store a new byte at any moment.
        return std::atomic_ref<std::uint8_t>(data_[offset]).exchange(replacement);
    }
    TChange Refresh() override { return TChange::None; }

private:
    bool InRange(std::size_t offset, std::size_t n) const {
        return data_ && offset <= size_ && n <= size_ - offset;
    }
    HANDLE mapping_;
    std::uint8_t* data_;
    std::size_t size_;
};

std::unique_ptr<ISharedMemoryView> Unmapped() {
    return std::make_unique<Win32View>(nullptr, nullptr, 0);
}

// Maps the whole object and checks its region is at least `size` bytes: a host that made a
// smaller block must not make us read past it.
std::unique_ptr<ISharedMemoryView> MapChecked(HANDLE mapping, std::size_t size) {
    void* p = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!p) {
        CloseHandle(mapping);
        return Unmapped();
    }
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(p, &info, sizeof info) == 0 || info.RegionSize < size) {
        UnmapViewOfFile(p);
        CloseHandle(mapping);
        return Unmapped();
    }
    return std::make_unique<Win32View>(mapping, p, size);
}

bool ValidName(const std::string& name) {
    return !name.empty() && name.find('\0') == std::string::npos;
}

} // namespace

std::unique_ptr<ISharedMemoryView> OpenSharedMemory(const std::string& name, std::size_t size) {
    if (!ValidName(name))
        return Unmapped();
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, win32::Wide(name).c_str());
    if (!mapping)
        return Unmapped();
    return MapChecked(mapping, size);
}

std::unique_ptr<ISharedMemoryView> CreateSharedMemory(const std::string& name, std::size_t size) {
    if (!ValidName(name))
        throw std::invalid_argument("block name is empty");
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(size), win32::Wide(name).c_str());
    if (!mapping)
        throw std::runtime_error("cannot create shared memory block '" + name +
                                 "': " + win32::SystemErrorText(GetLastError()));
    auto view = MapChecked(mapping, size);
    if (!view->IsMapped())
        throw std::runtime_error("cannot map shared memory block '" + name + "'");
    return view;
}

bool RemoveSharedMemory(const std::string& name) {
    // A named mapping has no name to unlink: it goes when its last handle closes.
    return SharedMemoryExists(name);
}

bool SharedMemoryExists(const std::string& name) {
    if (!ValidName(name))
        return false;
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, win32::Wide(name).c_str());
    if (!mapping)
        return false;
    CloseHandle(mapping);
    return true;
}

} // namespace lvplatform
