#include "positions/ScreenPositionTracker.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace lvpositions {

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Decodes one UTF-8 character at text[i], advancing i; malformed input gives U+FFFD and
// skips one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + static_cast<std::size_t>(extra) >= text.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += static_cast<std::size_t>(extra) + 1;
    return cp;
}

void AppendUnit(std::string& out, unsigned unit) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += Hex[(unit >> shift) & 0xF];
}

std::string PointJSON(TPointF p) {
    const std::string x = FormatFloat(p.X);
    const std::string y = FormatFloat(p.Y);
    return "[[" + x + "," + y + "]," + x + "," + y + "]";
}

const char* ScreenModeName(TWindowState s) {
    switch (s) {
    case wsMinimized:
        return "wsMinimized";
    case wsMaximized:
        return "wsMaximized";
    case wsNormal:
        break;
    }
    return "wsNormal";
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

// A key matches a property by its name or by its field name (leading F), in any case.
bool KeyIs(std::string_view key, std::string_view name) {
    if (EqualsNoCase(key, name))
        return true;
    return key.size() == name.size() + 1 && LowerAscii(key[0]) == 'f' &&
           EqualsNoCase(key.substr(1), name);
}

bool ReadNumber(const nlohmann::json& v, double& out) {
    if (!v.is_number())
        return false;
    out = v.get<double>();
    return std::isfinite(out);
}

void ReadInt32(const nlohmann::json& v, std::int32_t& out) {
    double d = 0;
    if (!ReadNumber(v, d))
        return;
    if (d < std::numeric_limits<std::int32_t>::min() ||
        d > std::numeric_limits<std::int32_t>::max())
        return;
    out = static_cast<std::int32_t>(d);
}

void ReadFloat(const nlohmann::json& v, float& out) {
    double d = 0;
    if (!ReadNumber(v, d))
        return;
    if (std::fabs(d) > std::numeric_limits<float>::max())
        return;
    out = static_cast<float>(d);
}

void ReadBool(const nlohmann::json& v, bool& out) {
    if (v.is_boolean())
        out = v.get<bool>();
}

// [[x,y],x,y]: taken in order, so the last elements decide.
void ReadPoint(const nlohmann::json& v, TPointF& out) {
    if (!v.is_array())
        return;
    if (v.size() > 0 && v[0].is_array()) {
        const auto& pair = v[0];
        if (pair.size() > 0)
            ReadFloat(pair[0], out.X);
        if (pair.size() > 1)
            ReadFloat(pair[1], out.Y);
    }
    if (v.size() > 1)
        ReadFloat(v[1], out.X);
    if (v.size() > 2)
        ReadFloat(v[2], out.Y);
}

void ReadScreenMode(const nlohmann::json& v, TWindowState& out) {
    if (!v.is_string())
        return;
    const auto& s = v.get_ref<const std::string&>();
    for (TWindowState w : {wsNormal, wsMinimized, wsMaximized})
        if (EqualsNoCase(s, ScreenModeName(w)))
            out = w;
}

int ClampToInt(double v) {
    if (!(v == v))
        return 0;
    v = std::clamp(v, static_cast<double>(std::numeric_limits<int>::min()),
                   static_cast<double>(std::numeric_limits<int>::max()));
    return static_cast<int>(v);
}

bool ValidDisplay(int index, const TPlacementEnvironment& env) {
    return index >= 0 && static_cast<std::size_t>(index) < env.Displays.size();
}

TPlacementRect WindowRect(const IPlacementWindow& w) {
    return {w.Left(), w.Top(), w.Width(), w.Height()};
}

} // namespace

int GetFormMonitor(const TPlacementRect& window, const std::vector<TPlacementDisplay>& displays) {
    // The centre is held as 32-bit floats, as the toolkit's point type does.
    const double cx = static_cast<float>(window.Left + window.Width / 2.0);
    const double cy = static_cast<float>(window.Top + window.Height / 2.0);
    for (std::size_t i = 0; i < displays.size(); ++i) {
        const TPlacementRect& wa = displays[i].WorkArea;
        if (wa.Left <= cx && wa.Top <= cy && static_cast<double>(wa.Right()) >= cx &&
            static_cast<double>(wa.Bottom()) >= cy)
            return static_cast<int>(i);
    }
    return -1;
}

long long RoundHalfEven(double value) {
    const double floor = std::floor(value);
    const double diff = value - floor;
    double result = floor;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(floor, 2.0) != 0.0))
        result = floor + 1;
    return static_cast<long long>(result);
}

std::string FormatFloat(float value) {
    const double d = value;
    if (!std::isfinite(d))
        return "0";
    std::array<char, 64> buf{};
    const auto r =
        std::to_chars(buf.data(), buf.data() + buf.size(), d, std::chars_format::general, 15);
    return std::string(buf.data(), r.ptr);
}

std::string QuoteJSON(std::string_view text) {
    std::string out = "\"";
    std::size_t i = 0;
    while (i < text.size()) {
        const char32_t cp = NextCodePoint(text, i);
        switch (cp) {
        case '"':
            out += "\\\"";
            continue;
        case '\\':
            out += "\\\\";
            continue;
        case '/':
            out += "\\/";
            continue;
        case '\b':
            out += "\\b";
            continue;
        case '\t':
            out += "\\t";
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\f':
            out += "\\f";
            continue;
        case '\r':
            out += "\\r";
            continue;
        default:
            break;
        }
        if (cp >= 0x20 && cp <= 0x7F) {
            out += static_cast<char>(cp);
        } else if (cp > 0xFFFF) {
            const char32_t v = cp - 0x10000;
            AppendUnit(out, 0xD800 + static_cast<unsigned>(v >> 10));
            AppendUnit(out, 0xDC00 + static_cast<unsigned>(v & 0x3FF));
        } else {
            AppendUnit(out, static_cast<unsigned>(cp));
        }
    }
    out += '"';
    return out;
}

std::string FileNamePart(std::string_view name) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    auto encode = [](std::string& out, unsigned char c) {
        out += '%';
        out += Hex[c >> 4];
        out += Hex[c & 0xF];
    };
    std::string out;
    if (name == "." || name == "..") {
        for (char c : name)
            encode(out, static_cast<unsigned char>(c));
        return out;
    }
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F ||
            std::string_view("/\\<>:\"|?*%").find(ch) != std::string_view::npos)
            encode(out, c);
        else
            out += ch;
    }
    // File names hold at most 255 bytes; a longer name keeps its start and gets a hash of
    // the whole name, so it can still be saved and still differs from other names.
    constexpr std::size_t MaxPart = 180;
    constexpr std::size_t KeepPart = 150;
    if (out.size() <= MaxPart)
        return out;
    std::size_t cut = KeepPart;
    while (cut > 0 && ((static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80 ||
                       out[cut - 1] == '%' || (cut >= 2 && out[cut - 2] == '%')))
        --cut;
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (char ch : name) {
        hash ^= static_cast<unsigned char>(ch);
        hash *= 1099511628211ull;
    }
    out.resize(cut);
    out += '~';
    for (int shift = 60; shift >= 0; shift -= 4)
        out += Hex[(hash >> shift) & 0xF];
    return out;
}

fs::path LocalDataFolder() {
    // XDG: a relative XDG_DATA_HOME is invalid and ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && fs::path(xdg).is_absolute())
        return fs::path(xdg);
    if (const char* home = std::getenv("HOME"); home && *home)
        return fs::path(home) / ".local" / "share";
    // Without a home the path starts at the root, as it does when the folder call fails;
    // writing there fails quietly and loading finds nothing.
    return fs::path("/");
}

std::string ApplicationTitle(const fs::path& executable) {
    std::string name = executable.filename().string();
    name = name.substr(0, name.find('.'));
    for (std::size_t i = 1; i < name.size(); ++i)
        name[i] = LowerAscii(name[i]);
    return name;
}

} // namespace lvpositions

using namespace lvpositions;

std::shared_ptr<TPositionTracker> TPositionTracker::Create(const std::string& ATargetName) {
    return std::shared_ptr<TPositionTracker>(new TPositionTracker(ATargetName));
}

std::string TPositionTracker::TargetName() const {
    return FTargetName.empty() ? std::string(DefaultTargetName) : FTargetName;
}

void TPositionTracker::CopyFrom(const IPositionTracker& ATracker) {
    FMonitor = ATracker.Monitor();
    FFullScreen = ATracker.FullScreen();
    FMonitorCount = ATracker.MonitorCount();
    FScreenMode = ATracker.ScreenMode();
    FPosition = ATracker.Position();
    FTargetName = ATracker.TargetName();
    FDesktopSize = ATracker.DesktopSize();
    FMainformMonitor = ATracker.MainformMonitor();
    FFitToWidth = ATracker.FitToWidth();
    FZoom = ATracker.Zoom();
    FFormSize = ATracker.FormSize();
}

std::string TPositionTracker::ToJSON() const {
    std::string s(Bom);
    s += "{\"monitor\":" + std::to_string(FMonitor);
    s += std::string(",\"fullScreen\":") + (FFullScreen ? "true" : "false");
    s += ",\"monitorCount\":" + FormatFloat(FMonitorCount);
    s += std::string(",\"screenMode\":\"") + ScreenModeName(FScreenMode) + "\"";
    s += ",\"position\":" + PointJSON(FPosition);
    s += ",\"targetName\":" + QuoteJSON(FTargetName);
    s += ",\"desktopSize\":" + PointJSON(FDesktopSize);
    s += ",\"mainformMonitor\":" + std::to_string(FMainformMonitor);
    s += std::string(",\"fitToWidth\":") + (FFitToWidth ? "true" : "false");
    s += ",\"zoom\":" + FormatFloat(FZoom);
    s += ",\"formSize\":" + PointJSON(FFormSize);
    s += "}";
    return s;
}

std::shared_ptr<TPositionTracker> TPositionTracker::FromJSON(std::string_view text,
                                                             const std::string& ATargetName) {
    if (text.substr(0, Bom.size()) == Bom)
        text.remove_prefix(Bom.size());
    const nlohmann::json doc = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (doc.is_discarded() || !doc.is_object())
        return nullptr;
    auto r = Create(ATargetName);
    for (const auto& [key, v] : doc.items()) {
        if (KeyIs(key, "monitor"))
            ReadInt32(v, r->FMonitor);
        else if (KeyIs(key, "fullScreen"))
            ReadBool(v, r->FFullScreen);
        else if (KeyIs(key, "monitorCount"))
            ReadFloat(v, r->FMonitorCount);
        else if (KeyIs(key, "screenMode"))
            ReadScreenMode(v, r->FScreenMode);
        else if (KeyIs(key, "position"))
            ReadPoint(v, r->FPosition);
        else if (KeyIs(key, "targetName")) {
            if (v.is_string())
                r->FTargetName = v.get<std::string>();
        } else if (KeyIs(key, "desktopSize"))
            ReadPoint(v, r->FDesktopSize);
        else if (KeyIs(key, "mainformMonitor"))
            ReadInt32(v, r->FMainformMonitor);
        else if (KeyIs(key, "fitToWidth"))
            ReadBool(v, r->FFitToWidth);
        else if (KeyIs(key, "zoom"))
            ReadFloat(v, r->FZoom);
        else if (KeyIs(key, "formSize"))
            ReadPoint(v, r->FFormSize);
    }
    return r;
}

fs::path TPositionTracker::FileName(const fs::path& ADataFolder, const std::string& ATitle,
                                    const std::string& AWindowName) const {
    return ADataFolder / FileNamePart(ATitle) / "screen" /
           (FileNamePart(TargetName()) + "." + FileNamePart(AWindowName) + ".json");
}

void TPositionTracker::SaveToFile(const fs::path& AFileName) const {
    fs::create_directories(AFileName.parent_path());
    const std::string text = ToJSON();
    // A name of its own for each attempt, next to the target so the rename stays on one
    // file system and replaces the old file in one step.
    static std::mt19937_64 rng{std::random_device{}()};
    const fs::path temp = AFileName.string() + "." + std::to_string(rng() % 100000000) + ".tmp";
    try {
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            if (!out)
                throw std::runtime_error("cannot create " + temp.string());
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            out.close();
            if (!out)
                throw std::runtime_error("cannot write " + temp.string());
        }
        fs::rename(temp, AFileName);
    } catch (...) {
        std::error_code ec;
        fs::remove(temp, ec);
        throw;
    }
}

std::shared_ptr<TPositionTracker> TPositionTracker::LoadFromFile(const fs::path& AFileName,
                                                                 const std::string& ATargetName) {
    std::error_code ec;
    if (!fs::is_regular_file(AFileName, ec))
        return nullptr;
    std::ifstream in(AFileName, std::ios::binary);
    if (!in)
        return nullptr;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return nullptr;
    return FromJSON(text, ATargetName);
}

void TPositionTracker::Save(IPlacementWindow& AForm, const TPlacementEnvironment& AEnvironment,
                            const TPositionTrackerEvent& AOnCustomProperties) {
    FPosition = {static_cast<float>(AForm.Left()), static_cast<float>(AForm.Top())};
    FFormSize = {static_cast<float>(AForm.Width()), static_cast<float>(AForm.Height())};
    FFullScreen = AForm.FullScreen();
    // A minimised window is remembered as normal, so it never comes back minimised.
    FScreenMode = AForm.WindowState() == wsMaximized ? wsMaximized : wsNormal;
    FMonitor = GetFormMonitor(WindowRect(AForm), AEnvironment.Displays);
    FMainformMonitor = AEnvironment.MainWindow
                           ? GetFormMonitor(*AEnvironment.MainWindow, AEnvironment.Displays)
                           : -1;
    FMonitorCount = static_cast<float>(AEnvironment.Displays.size());
    // A window over no work area has no display to measure; the record is still written.
    if (ValidDisplay(FMonitor, AEnvironment)) {
        const TPlacementRect& b = AEnvironment.Displays[static_cast<std::size_t>(FMonitor)].Bounds;
        FDesktopSize = {static_cast<float>(b.Width), static_cast<float>(b.Height)};
    } else {
        FDesktopSize = {};
    }
    if (AOnCustomProperties)
        AOnCustomProperties(shared_from_this());
    try {
        SaveToFile(FileName(AEnvironment.DataFolder, AEnvironment.Title, AForm.ComponentName()));
    } catch (...) {
        // Placement is a convenience: a failed write must not stop the window closing.
    }
}

bool TPositionTracker::IsOnScreen(const IPlacementWindow& AForm,
                                  const TPlacementEnvironment& AEnvironment, int& ADisplay) const {
    const auto count = AEnvironment.Displays.size();
    if (FMonitor >= 0 && static_cast<float>(count) == FMonitorCount &&
        ValidDisplay(FMonitor, AEnvironment))
        ADisplay = FMonitor;
    else
        ADisplay = GetFormMonitor(WindowRect(AForm), AEnvironment.Displays);
    // No display to test against: nothing says the saved place is visible.
    if (!ValidDisplay(ADisplay, AEnvironment))
        return false;
    const TPlacementRect& wa = AEnvironment.Displays[static_cast<std::size_t>(ADisplay)].WorkArea;
    const double x = FPosition.X;
    const double y = FPosition.Y;
    // The designed size decides, not the saved one.
    return x >= wa.Left && y >= wa.Top && x + AForm.Width() <= static_cast<double>(wa.Right()) &&
           y + AForm.Height() <= static_cast<double>(wa.Bottom());
}

void TPositionTracker::ApplyToForm(IPlacementWindow& AForm,
                                   const TPlacementEnvironment& AEnvironment, int ATestedDisplay,
                                   const TPositionTrackerEvent& AOnCustomProperties) {
    const int frameX = AForm.Width() - AForm.ClientWidth();
    const int frameY = AForm.Height() - AForm.ClientHeight();
    AForm.SetDesignedPosition();
    AForm.SetPosition(ClampToInt(std::trunc(FPosition.X)), ClampToInt(std::trunc(FPosition.Y)));
    if (FFormSize.X > 10 && FFormSize.Y > 10)
        AForm.SetSize(ClampToInt(std::trunc(FFormSize.X)), ClampToInt(std::trunc(FFormSize.Y)));

    int display = FMonitor;
    if (display < 0 && AEnvironment.MainWindow)
        display = GetFormMonitor(*AEnvironment.MainWindow, AEnvironment.Displays);
    // No usable display (saved index gone, main window off every work area): fit into the
    // display the saved position was just tested against.
    if (!ValidDisplay(display, AEnvironment))
        display = ATestedDisplay;
    if (ValidDisplay(display, AEnvironment)) {
        const TPlacementRect& wa =
            AEnvironment.Displays[static_cast<std::size_t>(display)].WorkArea;
        if (AForm.Width() > wa.Width) {
            const double w = static_cast<double>(wa.Right()) - AForm.Left() - frameX / 2.0 - 1;
            AForm.SetSize(std::max(1, ClampToInt(static_cast<double>(RoundHalfEven(w)))),
                          AForm.Height());
        }
        if (AForm.Height() > wa.Height) {
            const double h = static_cast<double>(wa.Bottom()) - AForm.Top() - frameY / 2.0 - 1;
            AForm.SetSize(AForm.Width(),
                          std::max(1, ClampToInt(static_cast<double>(RoundHalfEven(h)))));
        }
    }
    if (AOnCustomProperties)
        AOnCustomProperties(shared_from_this());
    // This program never saves a minimised state; one read from a file written elsewhere
    // would keep the window out of sight whenever it is shown.
    AForm.SetWindowState(FScreenMode == wsMinimized ? wsNormal : FScreenMode);
    AForm.SetFullScreen(FFullScreen);
}

void TPositionTracker::Load(IPlacementWindow& AForm, const TPlacementEnvironment& AEnvironment,
                            const TPositionTrackerEvent& AOnDefault,
                            const TPositionTrackerEvent& AOnCustomProperties) {
    const fs::path file =
        FileName(AEnvironment.DataFolder, AEnvironment.Title, AForm.ComponentName());
    // A file that cannot be read or is not one JSON object counts as no saved placement.
    if (const auto saved = LoadFromFile(file, FTargetName)) {
        CopyFrom(*saved);
        int display = -1;
        if (IsOnScreen(AForm, AEnvironment, display)) {
            ApplyToForm(AForm, AEnvironment, display, AOnCustomProperties);
            return;
        }
    }
    if (AOnDefault)
        AOnDefault(shared_from_this());
}

void TPositionTracker::SaveFormPosition(IPlacementWindow& AForm, const std::string& ATargetName,
                                        const TPlacementEnvironment& AEnvironment,
                                        const TPositionTrackerEvent& AOnCustomProperties) {
    Create(ATargetName)->Save(AForm, AEnvironment, AOnCustomProperties);
}

void TPositionTracker::LoadFormPosition(IPlacementWindow& AForm, const std::string& ATargetName,
                                        const TPlacementEnvironment& AEnvironment,
                                        const TPositionTrackerEvent& AOnDefault,
                                        const TPositionTrackerEvent& AOnCustomProperties) {
    Create(ATargetName)->Load(AForm, AEnvironment, AOnDefault, AOnCustomProperties);
}
