// A real shared-memory block for one test, under a name no other test uses, removed
// again afterwards. Tests write and read its bytes directly, the way the host does.
#pragma once

#include "controlfile/ImageViewer.ControlFile.h"
#include "platform/SharedMemory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

class BlockFixture : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        name_ = "lvtest-cf-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        view_ = lvplatform::CreateSharedMemory(name_, lvcontrol::kBlockSize);
        ASSERT_TRUE(view_->IsMapped());
        data_ = view_->Data();
        std::memset(data_, 0, lvcontrol::kBlockSize);
    }
    void TearDown() override {
        view_.reset();
        lvplatform::RemoveSharedMemory(name_);
    }

    void Put(std::size_t offset, const std::string& bytes) {
        std::memcpy(data_ + offset, bytes.data(), bytes.size());
    }
    void PutText(std::size_t offset, const std::string& text) {
        Put(offset, text);
        data_[offset + text.size()] = 0;
    }
    std::string Bytes(std::size_t offset, std::size_t n) const {
        return std::string(reinterpret_cast<const char*>(data_ + offset), n);
    }
    std::vector<std::uint8_t> Snapshot() const { return {data_, data_ + lvcontrol::kBlockSize}; }

    std::string name_;
    std::unique_ptr<lvplatform::ISharedMemoryView> view_;
    std::uint8_t* data_ = nullptr;
};

// True when `s` is well-formed UTF-8 (checked here independently of the code under test).
inline bool IsValidUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n;
        unsigned cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 2;
            cp = c & 0x1Fu;
        } else if ((c & 0xF0) == 0xE0) {
            n = 3;
            cp = c & 0x0Fu;
        } else if ((c & 0xF8) == 0xF0) {
            n = 4;
            cp = c & 0x07u;
        } else {
            return false;
        }
        if (i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3Fu);
        }
        const unsigned minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < minimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}
