// The host owns the block and may shrink it, grow it back, re-create it with O_TRUNC, or
// remove it and create a new one under the same name while the viewer has it open. No
// access may fault; a short block is inert; a whole or replaced block is taken up again
// at the next Refresh, and gets the view state the viewer last wrote.
#include "tests/support/BlockFixture.h"

#include "controlfile/ImageViewer.LumivaneImageInformation.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <functional>

using namespace lvcontrol;
using CF = TMemoryMappedControlFile;

namespace {

// Resizes the block NAME from outside, through the name, as another process would.
void Resize(const std::string& name, off_t size) {
    int fd = shm_open(name.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

// Every read and write the viewer and the toolbar make, run once.
void TouchEveryField(CF& cf) {
    cf.SetCommandState(vcHandled);
    cf.SetViewerHeartBeat(3);
    cf.SetTerminalCommandState(tcCapture);
    cf.SetKeyIndex(2);
    cf.SetCaptureFileState(cfsStartingCapture);
    cf.SetConsoleInstanceId(7);
    cf.SetCaptureFileName("/tmp/capture.log");
    cf.SetCallingWindowNameFormat("Console %d");
    cf.SetPassThroughPrinterName("Laser");
    (void)cf.ExchangeCommandState(vcHandled);
    (void)cf.CommandHeartBeat();
    (void)cf.ViewState();
    (void)cf.SearchText();
    (void)cf.ConnectionName();
    (void)cf.CaptureFileName();
    (void)cf.ConsoleInstanceId();
    cf.SetImageInformation(nullptr);
    try {
        (void)cf.ImageInformation();
    } catch (const EConvertError&) {
    }
}

using BlockChangesTest = BlockFixture;

// The race the size check cannot close: the block shrinks after the last Refresh and
// before an access. Every access must come back (zero, empty, dropped) instead of
// faulting, and the object is inert from then on.
TEST_F(BlockChangesTest, AccessesToABlockTruncatedUnderThemDoNotFault) {
    PutText(kSearchText, "AB1234");
    CF cf(name_);
    cf.SetViewState(vsOpen);
    Resize(name_, 0);
    EXPECT_EQ(cf.SearchText(), "");
    EXPECT_FALSE(cf.CanRead());
    EXPECT_EQ(cf.ExchangeCommandState(vcHandled), vcUnknown);
    EXPECT_EQ(cf.ViewState(), vsUnknown);
    TouchEveryField(cf);
    EXPECT_FALSE(cf.CanRead());
}

// What a Refresh makes of each size: below the layout the block is inert, at or above it
// the block is live; the view state last written comes back once the block is whole.
TEST_F(BlockChangesTest, RefreshTakesTheBlockUpOnlyWhileItHoldsTheWholeLayout) {
    struct Row {
        const char* name;
        off_t size;
        bool live;
    } rows[] = {
        {"truncated to nothing", 0, false},
        {"one page short of nothing", 100, false},
        {"one byte short", static_cast<off_t>(kBlockSize) - 1, false},
        {"exactly the layout", static_cast<off_t>(kBlockSize), true},
        {"larger than the layout", 2 * static_cast<off_t>(kBlockSize), true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CF cf(name_);
        cf.SetViewState(vsOpen);
        Resize(name_, row.size);
        cf.Refresh();
        EXPECT_EQ(cf.CanRead(), row.live);
        TouchEveryField(cf);
        cf.SetViewState(vsIdle); // written or not, this is the state to show
        Resize(name_, static_cast<off_t>(kBlockSize));
        if (row.size < static_cast<off_t>(kBlockSize))
            std::memset(data_, 0, kBlockSize); // what a shrink and a regrowth leave
        cf.Refresh();
        ASSERT_TRUE(cf.CanRead());
        EXPECT_EQ(data_[kViewState], vsIdle) << "the state is shown again once whole";
        PutText(kSearchText, "XY99");
        EXPECT_EQ(cf.SearchText(), "XY99");
    }
}

// A host that re-creates its block with O_TRUNC keeps the same object: it is empty for a
// moment, then whole again with new content, which the viewer reads.
TEST_F(BlockChangesTest, ABlockRecreatedWithTruncationIsReadAgain) {
    PutText(kSearchText, "OLD1");
    CF cf(name_);
    cf.SetViewState(vsOpen);
    int fd = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    cf.Refresh();
    EXPECT_FALSE(cf.CanRead()) << "a block of 0 bytes is inert";
    EXPECT_EQ(cf.SearchText(), "");
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kBlockSize)), 0);
    close(fd);
    PutText(kSearchText, "NEW2");
    cf.Refresh();
    EXPECT_EQ(cf.SearchText(), "NEW2");
    EXPECT_EQ(data_[kViewState], vsOpen);
}

// A host that removes its block and creates a new one under the same name: the viewer
// moves to the new block, reads it and writes its states there, down to vsClosed.
TEST_F(BlockChangesTest, ANewBlockUnderTheSameNameIsReachedAndWrittenTo) {
    PutText(kSearchText, "OLD1");
    auto cf = std::make_unique<CF>(name_);
    cf->SetViewState(vsOpen);
    lvplatform::RemoveSharedMemory(name_);
    auto fresh = lvplatform::CreateSharedMemory(name_, kBlockSize);
    std::uint8_t* next = fresh->Data();
    const std::string search = "NEW2";
    std::memcpy(next + kSearchText, search.c_str(), search.size() + 1);

    cf->Refresh();
    EXPECT_EQ(cf->SearchText(), "NEW2");
    EXPECT_EQ(next[kViewState], vsOpen) << "the current state is shown in the new block";
    cf->SetViewState(vsIdle);
    EXPECT_EQ(next[kViewState], vsIdle);
    EXPECT_EQ(data_[kViewState], vsOpen) << "the old block no longer gets the states";
    cf.reset();
    EXPECT_EQ(next[kViewState], vsClosed);
}

// The name alone going away is not a new block: a host may remove the name early and keep
// the block (the mapping stays valid), so the viewer keeps using it.
TEST_F(BlockChangesTest, ARemovedNameKeepsTheOpenBlock) {
    PutText(kSearchText, "KEEP");
    CF cf(name_);
    lvplatform::RemoveSharedMemory(name_);
    cf.Refresh();
    EXPECT_TRUE(cf.CanRead());
    EXPECT_EQ(cf.SearchText(), "KEEP");
    cf.SetViewState(vsIdle);
    EXPECT_EQ(data_[kViewState], vsIdle);
}

// A new block that is not yet sized (created, not yet truncated to 4096 bytes) is not
// taken up: the viewer stays with the old one until the new one is whole.
TEST_F(BlockChangesTest, ANewBlockIsTakenUpOnlyOnceItIsWhole) {
    PutText(kSearchText, "OLD1");
    CF cf(name_);
    lvplatform::RemoveSharedMemory(name_);
    int fd = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    cf.Refresh();
    EXPECT_EQ(cf.SearchText(), "OLD1");
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kBlockSize)), 0);
    close(fd);
    cf.Refresh();
    EXPECT_EQ(cf.SearchText(), "");
    EXPECT_TRUE(cf.CanRead());
}

} // namespace
