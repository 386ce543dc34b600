// TMemoryMappedControlFile against real shared-memory blocks: where each field lives,
// how strings are cut and read, the inert object, opening and closing, the image
// information load, and taking a command.
#include "tests/support/BlockFixture.h"

#include "controlfile/ImageViewer.LumivaneImageInformation.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <functional>
#include <thread>

using namespace lvcontrol;
using CF = TMemoryMappedControlFile;

namespace {

struct ByteField {
    const char* name;
    std::size_t offset;
    std::function<void(CF&, std::uint8_t)> set;
    std::function<std::uint8_t(const CF&)> get;
};

const std::vector<ByteField>& ByteFields() {
    static const std::vector<ByteField> fields = {
        {"CommandState", 0,
         [](CF& c, std::uint8_t v) { c.SetCommandState(TImageViewerCommand(v)); },
         [](const CF& c) { return std::uint8_t(c.CommandState()); }},
        {"CommandHeartBeat", 4, [](CF& c, std::uint8_t v) { c.SetCommandHeartBeat(v); },
         [](const CF& c) { return c.CommandHeartBeat(); }},
        {"ViewerHeartBeat", 5, [](CF& c, std::uint8_t v) { c.SetViewerHeartBeat(v); },
         [](const CF& c) { return c.ViewerHeartBeat(); }},
        {"TerminalCommandState", 6,
         [](CF& c, std::uint8_t v) { c.SetTerminalCommandState(TTerminalCommand(v)); },
         [](const CF& c) { return std::uint8_t(c.TerminalCommandState()); }},
        {"KeyIndex", 7, [](CF& c, std::uint8_t v) { c.SetKeyIndex(v); },
         [](const CF& c) { return c.KeyIndex(); }},
        {"ViewState", 16, [](CF& c, std::uint8_t v) { c.SetViewState(TImageViewerState(v)); },
         [](const CF& c) { return std::uint8_t(c.ViewState()); }},
        {"CaptureFileState", 2146,
         [](CF& c, std::uint8_t v) { c.SetCaptureFileState(TCaptureFileState(v)); },
         [](const CF& c) { return std::uint8_t(c.CaptureFileState()); }},
    };
    return fields;
}

struct StringField {
    const char* name;
    std::size_t offset;
    std::function<void(CF&, const std::string&)> set; // empty for fields only the host writes
    std::function<std::string(const CF&)> get;
};

const std::vector<StringField>& StringFields() {
    static const std::vector<StringField> fields = {
        {"SearchText", 32, nullptr, [](const CF& c) { return c.SearchText(); }},
        {"CaptureFileName", 2147, [](CF& c, const std::string& v) { c.SetCaptureFileName(v); },
         [](const CF& c) { return c.CaptureFileName(); }},
        {"CallingWindowNameFormat", 2407,
         [](CF& c, const std::string& v) { c.SetCallingWindowNameFormat(v); },
         [](const CF& c) { return c.CallingWindowNameFormat(); }},
        {"PassThroughPrinterName", 2664,
         [](CF& c, const std::string& v) { c.SetPassThroughPrinterName(v); },
         [](const CF& c) { return c.PassThroughPrinterName(); }},
        {"ConnectionName", 2921, nullptr, [](const CF& c) { return c.ConnectionName(); }},
    };
    return fields;
}

std::string Repeat(const std::string& s, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

} // namespace

using ControlFileTest = BlockFixture;

// Every byte field is read from and written to its own offset, and a write touches
// nothing else (a neighbour overwritten by a wrong width or offset shows up here).
TEST_F(ControlFileTest, ByteFieldsSitAtTheirOffsetsAndTouchNothingElse) {
    CF cf(name_);
    ASSERT_TRUE(cf.CanRead());
    for (std::size_t i = 0; i < kBlockSize; ++i)
        data_[i] = static_cast<std::uint8_t>(0xA0 + i % 7);
    for (const auto& f : ByteFields()) {
        SCOPED_TRACE(f.name);
        auto before = Snapshot();
        f.set(cf, 0x5C);
        auto after = Snapshot();
        EXPECT_EQ(after[f.offset], 0x5C);
        after[f.offset] = before[f.offset];
        EXPECT_EQ(after, before) << "a byte besides offset " << f.offset << " changed";
        data_[f.offset] = 0xC7; // values outside the enumerations read back unchecked
        EXPECT_EQ(f.get(cf), 0xC7);
    }
}

TEST_F(ControlFileTest, StringFieldsSitAtTheirOffsets) {
    CF cf(name_);
    for (const auto& f : StringFields()) {
        SCOPED_TRACE(f.name);
        PutText(f.offset, "read me");
        EXPECT_EQ(f.get(cf), "read me");
        if (!f.set)
            continue;
        auto before = Snapshot();
        f.set(cf, "written");
        auto after = Snapshot();
        EXPECT_EQ(Bytes(f.offset, 8), std::string("written\0", 8));
        std::copy(before.begin() + long(f.offset), before.begin() + long(f.offset) + 8,
                  after.begin() + long(f.offset));
        EXPECT_EQ(after, before) << "bytes outside the written text changed";
    }
}

TEST_F(ControlFileTest, ConsoleInstanceIdIsLittleEndianAndTwoBytesWide) {
    CF cf(name_);
    data_[2403] = 0xEE;
    data_[2406] = 0xEE;
    cf.SetConsoleInstanceId(0x1234);
    EXPECT_EQ(data_[2404], 0x34);
    EXPECT_EQ(data_[2405], 0x12);
    EXPECT_EQ(data_[2403], 0xEE);
    EXPECT_EQ(data_[2406], 0xEE);
    data_[2404] = 0xCD;
    data_[2405] = 0xAB;
    EXPECT_EQ(cf.ConsoleInstanceId(), 0xABCD);
}

// The 256-byte limit of the viewer-written string slots: up to 256 bytes whole, longer
// cut to 255 bytes, and never in the middle of a character.
TEST_F(ControlFileTest, StringWritesKeepTheByteLimitAndCharacterBoundaries) {
    const std::string e2 = "\xC3\xA9";         // é, 2 bytes
    const std::string e3 = "\xE2\x82\xAC";     // €, 3 bytes
    const std::string e4 = "\xF0\x9F\x93\x84"; // 📄, 4 bytes
    struct Row {
        const char* fault;
        std::string value;
        std::size_t stored; // bytes kept before the terminator
    } rows[] = {
        {"256 bytes must be stored whole", std::string(256, 'a'), 256},
        {"257 bytes are cut to 255, not 256", std::string(257, 'a'), 255},
        {"long text is cut to 255", std::string(1000, 'a'), 255},
        {"a 2-byte character across byte 255 is dropped whole", std::string(254, 'a') + e2 + "b",
         254},
        {"a 3-byte character across byte 255 is dropped whole", std::string(253, 'a') + e3 + "b",
         253},
        {"a 4-byte character across byte 255 is dropped whole", std::string(252, 'a') + e4 + "b",
         252},
        {"a character ending at byte 255 is kept", std::string(253, 'a') + e2 + "bb", 255},
        {"256 bytes ending in a multi-byte character stay whole", std::string(254, 'a') + e2, 256},
        {"the limit counts bytes, not characters", Repeat(e2, 129), 254},
        {"128 two-byte characters fill the slot", Repeat(e2, 128), 256},
        {"empty text writes just the terminator", "", 0},
    };
    CF cf(name_);
    for (const auto& f : StringFields()) {
        if (!f.set)
            continue;
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(f.name) + ": " + row.fault);
            std::memset(data_ + f.offset, 'z', 257);
            data_[f.offset + 257] = 0x77; // first byte of the next field
            f.set(cf, row.value);
            EXPECT_EQ(Bytes(f.offset, row.stored), row.value.substr(0, row.stored));
            EXPECT_EQ(data_[f.offset + row.stored], 0);
            EXPECT_EQ(data_[f.offset + 257], 0x77) << "the write ran into the next field";
            EXPECT_EQ(f.get(cf), row.value.substr(0, row.stored));
        }
    }
}

TEST_F(ControlFileTest, ShorterRewriteLeavesLaterBytesInPlace) {
    CF cf(name_);
    cf.SetCaptureFileName("/tmp/capture-long.txt");
    cf.SetCaptureFileName("abc");
    EXPECT_EQ(Bytes(2147, 8), std::string("abc\0/cap", 8));
    EXPECT_EQ(cf.CaptureFileName(), "abc");
}

// A slot without a terminator is read up to the end of the view and no further.
// A slot without a terminator is read to one byte short of its own end (the terminator's
// place), never into the field after it: a 65-byte search text must not swallow the image
// information, and a capture file name must not run on into the console instance id.
TEST_F(ControlFileTest, UnterminatedSlotsStopAtTheirOwnEnd) {
    struct Row {
        const char* name;
        std::size_t offset;
        std::size_t width;
        std::function<std::string(const CF&)> get;
    } rows[] = {
        {"SearchText", kSearchText, 65, [](const CF& c) { return c.SearchText(); }},
        {"CaptureFileName", kCaptureFileName, 257, [](const CF& c) { return c.CaptureFileName(); }},
        {"CallingWindowNameFormat", kCallingWindowNameFormat, 257,
         [](const CF& c) { return c.CallingWindowNameFormat(); }},
        {"PassThroughPrinterName", kPassThroughPrinterName, 257,
         [](const CF& c) { return c.PassThroughPrinterName(); }},
        {"ConnectionName", kConnectionName, kBlockSize - kConnectionName,
         [](const CF& c) { return c.ConnectionName(); }},
    };
    CF cf(name_);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // The whole slot is text, and the field after it holds text too.
        std::memset(data_, 'n', kBlockSize);
        std::memset(data_ + row.offset, 's', row.width);
        EXPECT_EQ(row.get(cf), std::string(row.width - 1, 's'));
    }
}

// The image information slot is bounded the same way: an object padded with blanks to the
// slot's end parses, and the capture state byte after it is not taken for part of the text.
TEST_F(ControlFileTest, UnterminatedImageInformationStopsAtItsOwnEnd) {
    const std::string json = R"({"Source":"/scans/","Pattern":"AB.."})";
    std::memset(data_ + kImageInformation, ' ', kImageInformationSlot);
    Put(kImageInformation, json);
    data_[kCaptureFileState] = 'x';
    Put(kCaptureFileName, "trailing");
    CF cf(name_);
    ASSERT_NE(cf.ImageInformation(), nullptr);
    EXPECT_EQ(cf.ImageInformation()->GetSource(), "/scans/");
}

TEST_F(ControlFileTest, MalformedUtf8ReadsAsReplacementCharacters) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Row {
        const char* fault;
        std::string bytes;
        std::string expected;
    } rows[] = {
        {"lone continuation byte", "a\x80z", "a" + fffd + "z"},
        {"overlong slash", "\xC0\xAF", fffd + fffd},
        {"truncated 3-byte sequence before the terminator", "ab\xE2\x82", "ab" + fffd + fffd},
        {"UTF-16 surrogate", "\xED\xA0\x80", fffd + fffd + fffd},
        {"above U+10FFFF", "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},
        {"bytes never used in UTF-8", "\xFE\xFF", fffd + fffd},
        {"valid text passes unchanged", "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x93\x84",
         "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x93\x84"},
    };
    CF cf(name_);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        PutText(2664, row.bytes);
        EXPECT_EQ(cf.PassThroughPrinterName(), row.expected);
    }
}

TEST_F(ControlFileTest, OpeningWritesOpeningAndDestructionWritesClosed) {
    data_[16] = 0x55;
    {
        CF cf(name_);
        EXPECT_TRUE(cf.CanRead());
        EXPECT_EQ(data_[16], vsOpening);
        cf.SetViewState(vsOpen);
        EXPECT_EQ(data_[16], vsOpen);
    }
    EXPECT_EQ(data_[16], vsClosed);
}

TEST_F(ControlFileTest, InvalidImageInformationFailsConstructionAndLeavesClosed) {
    PutText(97, "[\"not\", \"an object\"]");
    data_[16] = vsIdle;
    try {
        CF cf(name_);
        FAIL() << "construction succeeded";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "The input value is not a valid Object");
    }
    EXPECT_EQ(data_[16], vsClosed);
}

TEST_F(ControlFileTest, ImageInformationIsLoadedOnceAtOpening) {
    PutText(97, R"({"Source":"/first/","Pattern":"****...."})");
    CF cf(name_);
    auto info = cf.ImageInformation();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->GetSource(), "/first/");
    PutText(97, R"({"Source":"/second/"})");
    EXPECT_EQ(cf.ImageInformation()->GetSource(), "/first/")
        << "a cached record must not be reloaded";
    // Setting replaces the cache and leaves the block alone.
    auto mine = std::make_shared<TLumivaneInformation>();
    mine->SetSource("/mine/");
    cf.SetImageInformation(mine);
    EXPECT_EQ(cf.ImageInformation()->GetSource(), "/mine/");
    EXPECT_EQ(cf.ImageInformation(), mine);
    EXPECT_EQ(Bytes(97, 21), R"({"Source":"/second/"})");
}

TEST_F(ControlFileTest, ImageInformationIsParsedAgainWhileNoneIsCached) {
    CF cf(name_); // empty text at opening: no record
    EXPECT_EQ(cf.ImageInformation(), nullptr);
    PutText(97, "null");
    EXPECT_EQ(cf.ImageInformation(), nullptr);
    PutText(97, "42");
    EXPECT_THROW(cf.ImageInformation(), EConvertError);
    PutText(97, R"({"Source":"/late/"})");
    ASSERT_NE(cf.ImageInformation(), nullptr) << "a failed parse must not be cached";
    EXPECT_EQ(cf.ImageInformation()->GetSource(), "/late/");
    PutText(97, R"({"Source":"/later/"})");
    EXPECT_EQ(cf.ImageInformation()->GetSource(), "/late/");
}

TEST_F(ControlFileTest, ExchangeCommandStateTakesThePendingCommand) {
    CF cf(name_);
    data_[0] = vcOpen;
    EXPECT_EQ(cf.ExchangeCommandState(vcHandled), vcOpen);
    EXPECT_EQ(data_[0], vcHandled);
    EXPECT_EQ(cf.ExchangeCommandState(vcHandled), vcHandled);
}

// A host stores its next command as soon as it sees vcHandled. Taking the command with a
// separate read and write would now and then overwrite a new command unseen; the
// exchange must hand over every one of them, in order.
TEST_F(ControlFileTest, ExchangeCommandStateLosesNoCommandStoredMeanwhile) {
    CF cf(name_);
    data_[0] = vcHandled;
    constexpr int kCommands = 5000;
    const TImageViewerCommand cycle[] = {vcOpen, vcHide, vcConnected};
    std::atomic<bool> hostDone{false};
    std::thread host([&] {
        auto other =
            lvplatform::OpenSharedMemory(name_, kBlockSize); // its own mapping, like the host's
        std::atomic_ref<std::uint8_t> slot(other->Data()[0]);
        for (int i = 0; i < kCommands; ++i) {
            while (slot.load() != vcHandled)
                std::this_thread::yield();
            slot.store(cycle[i % 3]);
        }
        hostDone = true;
    });
    std::vector<TImageViewerCommand> taken;
    for (;;) {
        const bool last = hostDone.load();
        auto c = cf.ExchangeCommandState(vcHandled);
        if (c != vcHandled)
            taken.push_back(c);
        if (last)
            break;
    }
    host.join();
    ASSERT_EQ(taken.size(), std::size_t(kCommands));
    for (int i = 0; i < kCommands; ++i)
        ASSERT_EQ(taken[std::size_t(i)], cycle[i % 3]) << "at command " << i;
}

// A block that is missing, too small to hold the layout, or not nameable leaves an
// object that reads zeros and empty text and never writes (a write past the end of a
// smaller block would fault with SIGBUS).
TEST(ControlFileUnopened, InertWhenMissingOrSmallerThanTheLayout) {
    struct Row {
        const char* fault;
        std::size_t size; // 0: no block at all
        std::string name;
    } rows[] = {
        {"no block of that name", 0, "lvtest-cf-missing-" + std::to_string(getpid())},
        {"empty name", 0, ""},
        {"block of 100 bytes", 100, "lvtest-cf-small-" + std::to_string(getpid())},
        {"block one byte short", kBlockSize - 1, "lvtest-cf-short-" + std::to_string(getpid())},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        std::unique_ptr<lvplatform::ISharedMemoryView> small;
        if (row.size > 0) {
            small = lvplatform::CreateSharedMemory(row.name, row.size);
            std::memset(small->Data(), 0x11, row.size);
        }
        {
            CF cf(row.name);
            EXPECT_FALSE(cf.CanRead());
            for (const auto& f : ByteFields()) {
                f.set(cf, 9);
                EXPECT_EQ(f.get(cf), 0) << f.name;
            }
            for (const auto& f : StringFields()) {
                if (f.set)
                    f.set(cf, "ignored");
                EXPECT_EQ(f.get(cf), "") << f.name;
            }
            cf.SetConsoleInstanceId(0x1234);
            EXPECT_EQ(cf.ConsoleInstanceId(), 0);
            EXPECT_EQ(cf.ImageInformation(), nullptr);
            EXPECT_EQ(cf.ExchangeCommandState(vcHandled), vcUnknown);
        }
        if (row.size > 0) {
            for (std::size_t i = 0; i < row.size; ++i)
                ASSERT_EQ(small->Data()[i], 0x11)
                    << "byte " << i << " of the small block was written";
            small.reset();
            lvplatform::RemoveSharedMemory(row.name);
        } else if (!row.name.empty()) {
            int fd = shm_open(row.name.c_str(), O_RDONLY, 0);
            EXPECT_LT(fd, 0) << "the inert object created a block";
            if (fd >= 0)
                close(fd);
        }
    }
}
