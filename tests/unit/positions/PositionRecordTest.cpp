// The placement record and its file: exact bytes written, what the reader accepts, where
// the file lies, and that names from the host cannot lead the file out of its folder.
#include "platform/DataFolder.h"
#include "positions/ScreenPositionTracker.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace lvpositions;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

void WriteAll(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

void ExpectSameRecord(const IPositionTracker& a, const IPositionTracker& b) {
    EXPECT_EQ(a.Monitor(), b.Monitor());
    EXPECT_EQ(a.FullScreen(), b.FullScreen());
    EXPECT_EQ(a.MonitorCount(), b.MonitorCount());
    EXPECT_EQ(a.ScreenMode(), b.ScreenMode());
    EXPECT_EQ(a.Position(), b.Position());
    EXPECT_EQ(a.TargetName(), b.TargetName());
    EXPECT_EQ(a.DesktopSize(), b.DesktopSize());
    EXPECT_EQ(a.MainformMonitor(), b.MainformMonitor());
    EXPECT_EQ(a.FitToWidth(), b.FitToWidth());
    EXPECT_EQ(a.Zoom(), b.Zoom());
    EXPECT_EQ(a.FormSize(), b.FormSize());
}

std::shared_ptr<TPositionTracker> SampleRecord(const std::string& name) {
    auto r = TPositionTracker::Create(name);
    r->SetMonitor(1);
    r->SetFullScreen(false);
    r->SetMonitorCount(2);
    r->SetScreenMode(wsMaximized);
    r->SetPosition({2000, 100});
    r->SetDesktopSize({1920, 1080});
    r->SetMainformMonitor(-1);
    r->SetFitToWidth(true);
    r->SetZoom(0.8f);
    r->SetFormSize({800, 600.5f});
    return r;
}

} // namespace

TEST(PositionRecord, NewRecordValuesAndTargetNameDefault) {
    auto r = TPositionTracker::Create("");
    EXPECT_EQ(r->Monitor(), 0);
    EXPECT_FALSE(r->FullScreen());
    EXPECT_EQ(r->MonitorCount(), 0.0f);
    EXPECT_EQ(r->ScreenMode(), wsNormal);
    EXPECT_EQ(r->Position(), (TPointF{0, 0}));
    EXPECT_EQ(r->DesktopSize(), (TPointF{0, 0}));
    EXPECT_EQ(r->MainformMonitor(), 0);
    EXPECT_FALSE(r->FitToWidth());
    EXPECT_EQ(r->Zoom(), 0.0f);
    EXPECT_EQ(r->FormSize(), (TPointF{0, 0}));
    // Reads substitute the default, the stored name stays empty.
    EXPECT_EQ(r->TargetName(), "TrackedForms");
    EXPECT_EQ(r->StoredTargetName(), "");

    // CopyFrom goes through the read access, so the default becomes the stored name.
    auto copy = TPositionTracker::Create("other");
    copy->CopyFrom(*SampleRecord(""));
    EXPECT_EQ(copy->StoredTargetName(), "TrackedForms");
    ExpectSameRecord(*copy, *SampleRecord(""));
}

TEST(PositionRecord, WritesExactBytes) {
    const std::string expected =
        "\xEF\xBB\xBF"
        R"({"monitor":1,"fullScreen":false,"monitorCount":2,"screenMode":"wsMaximized",)"
        R"("position":[[2000,100],2000,100],"targetName":"conn\/\"1\"\\x\u00E9",)"
        R"("desktopSize":[[1920,1080],1920,1080],"mainformMonitor":-1,"fitToWidth":true,)"
        R"("zoom":0.800000011920929,"formSize":[[800,600.5],800,600.5]})";
    EXPECT_EQ(SampleRecord("conn/\"1\"\\x\xC3\xA9")->ToJSON(), expected);

    // A new record with an empty name: the default name is never written.
    EXPECT_EQ(TPositionTracker::Create("")->ToJSON(),
              "\xEF\xBB\xBF"
              R"({"monitor":0,"fullScreen":false,"monitorCount":0,"screenMode":"wsNormal",)"
              R"("position":[[0,0],0,0],"targetName":"","desktopSize":[[0,0],0,0],)"
              R"("mainformMonitor":0,"fitToWidth":false,"zoom":0,"formSize":[[0,0],0,0]})");
}

TEST(PositionRecord, FloatFormat) {
    struct Row {
        const char* fault;
        float value;
        const char* text;
    };
    const Row rows[] = {
        {"whole_value_without_point", 2.0f, "2"},
        {"zero", 0.0f, "0"},
        {"exact_half", 0.5f, "0.5"},
        {"float_widened_not_shortest_float", 0.8f, "0.800000011920929"},
        {"fifteen_digits_not_seventeen", 0.1f, "0.100000001490116"},
        {"negative", -1.5f, "-1.5"},
        {"large_whole", 16777216.0f, "16777216"},
        {"nan_stays_valid_json", std::numeric_limits<float>::quiet_NaN(), "0"},
        {"infinity_stays_valid_json", std::numeric_limits<float>::infinity(), "0"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(FormatFloat(row.value), row.text) << row.fault;
}

TEST(PositionRecord, StringEscapes) {
    struct Row {
        const char* fault;
        std::string in;
        std::string out;
    };
    const std::vector<Row> rows = {
        {"plain_ascii", "abc XYZ 09", R"("abc XYZ 09")"},
        {"quote_backslash_slash", "\"\\/", R"("\"\\\/")"},
        {"short_control_escapes", "\b\t\n\f\r", R"("\b\t\n\f\r")"},
        {"other_control_as_upper_hex", std::string("\x01\x1F", 2), R"("\u0001\u001F")"},
        {"nul_inside", std::string("a\0b", 3), R"("a\u0000b")"},
        {"del_is_in_range", "\x7F", "\"\x7F\""},
        {"latin_letter", "\xC3\xA9", R"("\u00E9")"},
        {"bmp_letter_upper_hex", "\xE2\x82\xAC", R"("\u20AC")"},
        {"astral_as_surrogate_pair", "\xF0\x9F\x98\x80", R"("\uD83D\uDE00")"},
        {"malformed_byte_replaced",
         "a\xFF"
         "b",
         R"("a\uFFFDb")"},
        {"truncated_sequence_replaced", "\xE2\x82", R"("\uFFFD\uFFFD")"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(QuoteJSON(row.in), row.out) << row.fault;
}

TEST(PositionRecord, ReadsFiles) {
    struct Row {
        const char* fault;
        std::string text;
        std::int32_t monitor;
        TWindowState mode;
        TPointF position;
        TPointF formSize;
        float zoom;
        std::string target;
    };
    const std::string full =
        R"({"monitor":1,"fullScreen":false,"monitorCount":2,"screenMode":"wsMaximized",)"
        R"("position":[[2000,100],2000,100],"targetName":"conn","desktopSize":[[1920,1080],1920,1080],)"
        R"("mainformMonitor":0,"fitToWidth":true,"zoom":0.75,"formSize":[[800,600],800,600]})";
    const std::vector<Row> rows = {
        {"with_bom", "\xEF\xBB\xBF" + full, 1, wsMaximized, {2000, 100}, {800, 600}, 0.75f, "conn"},
        {"without_bom", full, 1, wsMaximized, {2000, 100}, {800, 600}, 0.75f, "conn"},
        {"missing_form_size_is_zero",
         R"({"monitor":1,"position":[[5,6],5,6],"zoom":0.75})",
         1,
         wsNormal,
         {5, 6},
         {0, 0},
         0.75f,
         "asker"},
        {"extra_member_ignored",
         R"({"refCount":3,"monitor":2,"formSize":[[9,9],30,40],"nested":{"a":[1]}})",
         2,
         wsNormal,
         {0, 0},
         {30, 40},
         0,
         "asker"},
        {"keys_any_case_and_field_names",
         R"({"MONITOR":4,"FScreenMode":"wsMaximized","fposition":[[1,2],1,2],"FZOOM":2,"FTargetName":"t"})",
         4,
         wsMaximized,
         {1, 2},
         {0, 0},
         2.0f,
         "t"},
        {"point_last_two_elements_decide",
         R"({"position":[[1,2],3,4]})",
         0,
         wsNormal,
         {3, 4},
         {0, 0},
         0,
         "asker"},
        {"point_pair_alone", R"({"position":[[7,8]]})", 0, wsNormal, {7, 8}, {0, 0}, 0, "asker"},
        {"screen_mode_by_name",
         R"({"screenMode":"wsMinimized"})",
         0,
         wsMinimized,
         {0, 0},
         {0, 0},
         0,
         "asker"},
        {"wrong_types_keep_new_values",
         R"({"monitor":"1","screenMode":2,"position":"x","zoom":true,"targetName":5,"formSize":[["a"],null,{}]})",
         0,
         wsNormal,
         {0, 0},
         {0, 0},
         0,
         "asker"},
        {"out_of_range_numbers_ignored",
         R"({"monitor":1e12,"zoom":1e300})",
         0,
         wsNormal,
         {0, 0},
         {0, 0},
         0,
         "asker"},
        {"unknown_screen_mode_ignored",
         R"({"screenMode":"wsHuge"})",
         0,
         wsNormal,
         {0, 0},
         {0, 0},
         0,
         "asker"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        auto r = TPositionTracker::FromJSON(row.text, "asker");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->Monitor(), row.monitor);
        EXPECT_EQ(r->ScreenMode(), row.mode);
        EXPECT_EQ(r->Position(), row.position);
        EXPECT_EQ(r->FormSize(), row.formSize);
        EXPECT_EQ(r->Zoom(), row.zoom);
        EXPECT_EQ(r->TargetName(), row.target);
    }
}

TEST(PositionRecord, TextThatIsNotOneObjectReadsAsNoRecord) {
    for (const std::string text : {"", "\xEF\xBB\xBF", "   ", "null", "[1,2]", "\"x\"", "3", "{",
                                   R"({"monitor":1} trailing)", "not json"}) {
        EXPECT_FALSE(TPositionTracker::FromJSON(text, "t")) << text;
    }
}

TEST(PositionRecord, RoundTripThroughFile) {
    TempFolder tmp;
    auto original = SampleRecord("conn \xE2\x82\xAC");
    original->SetZoom(0.1f);
    original->SetPosition({-1234.5f, 3e7f});
    const fs::path file = original->FileName(tmp.Root(), "Lumivane", "LumivaneViewerForm");
    original->SaveToFile(file);
    const std::string bytes = ReadAll(file);
    ASSERT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
    for (std::size_t i = 3; i < bytes.size(); ++i)
        ASSERT_LT(static_cast<unsigned char>(bytes[i]), 0x80) << "non-ASCII byte at " << i;
    auto back = TPositionTracker::LoadFromFile(file, "ignored");
    ASSERT_TRUE(back);
    ExpectSameRecord(*back, *original);
    // Only the file is left in the folder: no temporary files behind a good save.
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()),
              1);
}

TEST(PositionRecord, FileLocation) {
    TempFolder tmp;
    auto empty = TPositionTracker::Create("");
    const fs::path file = empty->FileName(tmp.Root(), "Lumivane", "LumivaneViewerForm");
    EXPECT_EQ(file, tmp.Root() / "Lumivane" / "screen" / "TrackedForms.LumivaneViewerForm.json");
    // The folder and its missing parents are made by the write.
    empty->SaveToFile(file);
    ASSERT_TRUE(fs::is_regular_file(file));
    EXPECT_NE(ReadAll(file).find(R"("targetName":"")"), std::string::npos);

    EXPECT_EQ(TPositionTracker::Create("conn1")->FileName(tmp.Root(), "T", "W"),
              tmp.Root() / "T" / "screen" / "conn1.W.json");
}

TEST(PositionRecord, HostNamesStayInsideThePlacementFolder) {
    TempFolder tmp;
    const fs::path folder = tmp.Root() / "Lumivane" / "screen";
    const std::vector<std::string> names = {
        "../x", "a/b", "..", ".", "/etc/passwd", "a\\b", "c:d", "../../../../tmp/evil", "x\ny",
        "a%2Fb",
        // Longer than a file name may be; differ only at the end.
        std::string(300, 'x') + "1", std::string(300, 'x') + "2",
        std::string(100, '/') + Repeat("\xC3\xA9", 100)};
    std::vector<fs::path> files;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        auto r = TPositionTracker::Create(name);
        const fs::path file = r->FileName(tmp.Root(), "Lumivane", "LumivaneViewerForm");
        // Inside the folder; a name too long for one file name takes folders below it.
        const fs::path below = file.lexically_relative(folder);
        ASSERT_FALSE(below.empty());
        for (const fs::path& part : below) {
            EXPECT_NE(part, "..");
            EXPECT_LE(part.string().size(), 255u);
        }
        r->SaveToFile(file);
        ASSERT_TRUE(fs::is_regular_file(file));
        // The member keeps the name as given.
        auto back = TPositionTracker::LoadFromFile(file, "");
        ASSERT_TRUE(back);
        EXPECT_EQ(back->StoredTargetName(), name);
        files.push_back(file);
    }
    // Distinct names never share a file ("a/b" and "a%2Fb" included).
    for (std::size_t i = 0; i < files.size(); ++i)
        for (std::size_t j = i + 1; j < files.size(); ++j)
            EXPECT_NE(files[i], files[j]) << names[i] << " / " << names[j];
    // Nothing was written outside the placement folder.
    std::size_t outside = 0;
    for (const auto& e : fs::recursive_directory_iterator(tmp.Root()))
        if (e.is_regular_file() && *e.path().lexically_relative(folder).begin() == "..")
            ++outside;
    EXPECT_EQ(outside, 0u);
}

TEST(PositionRecord, UnreadableFilesReadAsNoRecord) {
    TempFolder tmp;
    const fs::path file = tmp.Root() / "f.json";
    EXPECT_FALSE(TPositionTracker::LoadFromFile(file, "t")) << "missing file";
    fs::create_directories(file);
    EXPECT_FALSE(TPositionTracker::LoadFromFile(file, "t")) << "a folder in its place";
    fs::remove(file);
    WriteAll(file, "");
    EXPECT_FALSE(TPositionTracker::LoadFromFile(file, "t")) << "empty file";
    WriteAll(file, R"({"monitor":1,"pos)");
    EXPECT_FALSE(TPositionTracker::LoadFromFile(file, "t")) << "cut-off file";
}

TEST(PositionRecord, WriteFailureThrowsAndLeavesOldFile) {
    TempFolder tmp;
    const fs::path file = tmp.Root() / "screen" / "t.W.json";
    SampleRecord("first")->SaveToFile(file);
    const std::string before = ReadAll(file);
    // A folder where the folder of the file should be: the write must fail, not corrupt.
    const fs::path blocked = tmp.Root() / "blocker" / "screen" / "t.W.json";
    WriteAll(tmp.Root() / "blocker", "a file, not a folder");
    EXPECT_ANY_THROW(SampleRecord("x")->SaveToFile(blocked));
    EXPECT_EQ(ReadAll(file), before);
}

TEST(PositionRecord, ApplicationTitle) {
    struct Row {
        const char* fault;
        const char* exe;
        const char* title;
    };
    const Row rows[] = {
        {"plain_linux_name", "/usr/bin/lumivane-viewer", "lumivane-viewer"},
        {"cut_at_first_full_stop", "C:/x/LumiVane.Viewer.exe", "Lumivane"},
        {"first_char_keeps_case", "ABC", "Abc"},
        {"single_char", "/opt/Q", "Q"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ApplicationTitle(row.exe), row.title) << row.fault;
}

TEST(DataFolder, FromTheEnvironmentOrTheUsersHome) {
    const auto saved = [](const char* name) {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    const auto restore = [](const char* name, const std::optional<std::string>& v) {
        if (v)
            setenv(name, v->c_str(), 1);
        else
            unsetenv(name);
    };
    const auto savedXdg = saved("XDG_DATA_HOME");
    const auto savedHome = saved("HOME");
    const passwd* user = getpwuid(getuid());
    ASSERT_TRUE(user && user->pw_dir);
    const fs::path userHome = user->pw_dir;

    struct Row {
        const char* fault;
        std::optional<std::string> xdg;
        std::optional<std::string> home;
        fs::path expected;
    };
    const Row rows[] = {
        {"xdg_data_home_wins", "/some/data", "/home/u", "/some/data"},
        {"relative_xdg_is_invalid", "relative/ignored", "/home/u", "/home/u/.local/share"},
        {"empty_xdg_is_unset", "", "/home/u", "/home/u/.local/share"},
        {"no_xdg", std::nullopt, "/home/u", "/home/u/.local/share"},
        {"no_home_variable_uses_the_password_database", std::nullopt, std::nullopt,
         userHome / ".local" / "share"},
        {"relative_home_is_not_the_working_folder", std::nullopt, "rel", "/"},
    };
    for (const Row& row : rows) {
        restore("XDG_DATA_HOME", row.xdg);
        restore("HOME", row.home);
        EXPECT_EQ(lvplatform::LocalDataFolder(), row.expected) << row.fault;
    }
    restore("XDG_DATA_HOME", savedXdg);
    restore("HOME", savedHome);
}
