// GoogleTest fixture around one host-made control block (see HostBlock.h) per test.
#pragma once

#include "tests/support/HostBlock.h"

#include <gtest/gtest.h>

#include <optional>

class BlockFixture : public ::testing::Test {
protected:
    void SetUp() override {
        block_.emplace("cf");
        name_ = block_->Name();
        data_ = block_->Data();
    }
    void TearDown() override {
        data_ = nullptr;
        block_.reset();
    }

    void Put(std::size_t offset, const std::string& bytes) { block_->Put(offset, bytes); }
    void PutText(std::size_t offset, const std::string& text) { block_->PutText(offset, text); }
    std::string Bytes(std::size_t offset, std::size_t n) const { return block_->Bytes(offset, n); }
    std::vector<std::uint8_t> Snapshot() const { return block_->Snapshot(); }

    std::optional<lvtest::HostBlock> block_;
    std::string name_;
    std::uint8_t* data_ = nullptr;
};
