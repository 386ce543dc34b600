// Opening a named shared-memory block that another process created. One backend per
// operating system (posix/, win32/); callers only see this interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace lvplatform {

// A mapped view of an existing block. An instance always exists; when the block could
// not be opened or mapped, Data() is null and Size() is 0.
class ISharedMemoryView {
public:
    virtual ~ISharedMemoryView() = default;
    virtual std::uint8_t* Data() const = 0;
    virtual std::size_t Size() const = 0;
    bool IsMapped() const { return Data() != nullptr; }
};

// Opens the block NAME exactly as given (no prefix or suffix added) and maps its first
// `size` bytes for reading and writing. A block smaller than `size` is not mapped:
// touching pages past its end would fault.
std::unique_ptr<ISharedMemoryView> OpenSharedMemory(const std::string& name, std::size_t size);

// Host side: creates (or reuses) the block NAME of `size` bytes, zero-filled when new.
std::unique_ptr<ISharedMemoryView> CreateSharedMemory(const std::string& name, std::size_t size);

// Host side: removes the name; mapped views stay valid until released.
bool RemoveSharedMemory(const std::string& name);

// True while a block of that name exists, whatever its size.
bool SharedMemoryExists(const std::string& name);

} // namespace lvplatform
