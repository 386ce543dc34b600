// A real shared-memory control block made the way a host makes it: created under a name
// no other test uses, zero-filled, and removed again when the object goes. Tests write and
// read its bytes directly, as the host does. Usable from GoogleTest and Qt Test alike.
#pragma once

#include "controlfile/ImageViewer.ControlFile.h"
#include "platform/SharedMemory.h"

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace lvtest {

class HostBlock {
public:
    // `tag` goes into the name, so a block left behind by a crash tells which test made it.
    explicit HostBlock(const std::string& tag = "block")
        : FName(UniqueName(tag)),
          FView(lvplatform::CreateSharedMemory(FName, lvcontrol::kBlockSize)) {
        if (!FView || !FView->IsMapped())
            throw std::runtime_error("cannot create the shared-memory block " + FName);
        // A name reused after a crash may still hold an old block's bytes.
        std::memset(FView->Data(), 0, lvcontrol::kBlockSize);
    }
    ~HostBlock() {
        FView.reset();
        lvplatform::RemoveSharedMemory(FName);
    }
    HostBlock(const HostBlock&) = delete;
    HostBlock& operator=(const HostBlock&) = delete;

    const std::string& Name() const { return FName; }
    std::uint8_t* Data() const { return FView->Data(); }
    std::uint8_t& At(std::size_t offset) const { return Data()[offset]; }

    void Put(std::size_t offset, const std::string& bytes) const {
        std::memcpy(Data() + offset, bytes.data(), bytes.size());
    }
    // A zero-terminated text, as the host writes its string slots.
    void PutText(std::size_t offset, const std::string& text) const {
        Put(offset, text);
        Data()[offset + text.size()] = 0;
    }
    std::string Bytes(std::size_t offset, std::size_t n) const {
        return std::string(reinterpret_cast<const char*>(Data() + offset), n);
    }
    std::vector<std::uint8_t> Snapshot() const { return {Data(), Data() + lvcontrol::kBlockSize}; }

private:
    static std::string UniqueName(const std::string& tag) {
        static std::atomic<int> counter{0};
        return "lvtest-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    }

    std::string FName;
    std::unique_ptr<lvplatform::ISharedMemoryView> FView;
};

} // namespace lvtest
