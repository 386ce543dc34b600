// Named shared-memory blocks shared between the host and the viewer. One backend per
// operating system (posix/, win32/); callers only see this interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace lvplatform {

// A mapped view of a named block. The other process may shrink, grow, remove or replace
// the block at any moment, so every access goes through Read, Write and Exchange, which
// never fault: an access that meets a block shrunk under it fails and reports it.
//
// An instance always exists. It is live while the block holds at least the mapped size;
// otherwise (never opened, or shrunk below that size) it is inert: Size() is 0, reads
// give zeros and fail, writes are dropped.
class ISharedMemoryView {
public:
    enum class TChange { None, Resized, Replaced };

    virtual ~ISharedMemoryView() = default;

    // The mapped size while live, 0 while inert (as of the last Refresh or failed access).
    virtual std::size_t Size() const = 0;
    bool IsMapped() const { return Size() != 0; }

    // Copies `n` bytes at `offset` into `out`; false (and `out` zero-filled) when inert,
    // out of range, or the block shrank during the copy.
    virtual bool Read(std::size_t offset, void* out, std::size_t n) const = 0;
    // Copies `n` bytes into the block; false when it could not.
    virtual bool Write(std::size_t offset, const void* in, std::size_t n) = 0;
    // Atomically takes the byte at `offset` and leaves `replacement` in its place.
    virtual std::optional<std::uint8_t> Exchange(std::size_t offset, std::uint8_t replacement) = 0;

    // Looks at the block again: whether it still holds the mapped size (Resized when
    // the view went from live to inert or back) and, for a view reached by name, whether
    // the name now stands for another block of at least that size, which the view then
    // maps instead (Replaced).
    virtual TChange Refresh() = 0;

    // Unguarded start of the view, for the one who created the block and keeps its size
    // (tests playing the host). Null while never mapped. Anyone reading a block that
    // another process controls uses Read/Write instead.
    virtual std::uint8_t* Data() const = 0;
};

// Opens the block NAME exactly as given (no prefix or suffix added) and maps its first
// `size` bytes for reading and writing. A block that is missing or smaller than `size`
// gives a view that stays inert for good.
std::unique_ptr<ISharedMemoryView> OpenSharedMemory(const std::string& name, std::size_t size);

// Host side: creates (or reuses) the block NAME of at least `size` bytes, zero-filled
// when new, and maps `size` bytes of it. Throws when it cannot.
std::unique_ptr<ISharedMemoryView> CreateSharedMemory(const std::string& name, std::size_t size);

// Host side: removes the name; mapped views stay valid until released.
bool RemoveSharedMemory(const std::string& name);

// True while a block of that name exists, whatever its size.
bool SharedMemoryExists(const std::string& name);

} // namespace lvplatform
