#include "controlfile/ImageViewer.LumivaneImageInformation.h"

#include "platform/Utf8.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

using json = nlohmann::json;

constexpr const char* kNotAnObject = "The input value is not a valid Object";

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Text for a string field: strings as they are, numbers in their JSON spelling.
std::string FieldText(const json& value, const std::string& member) {
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_number())
        return value.dump();
    // The type, not the value: dumping a deeply nested value would recurse without bound.
    throw EConvertError("Member '" + member + "' is not a text but " + value.type_name());
}

void Apply(TLumivaneInformation& info, const std::string& name, const json& value) {
    std::string key = Lower(name);
    // The record's own field names (FSource, ...) are accepted as well.
    if (key.size() > 1 && key[0] == 'f' &&
        (key == "fsource" || key == "fpattern" || key == "falternatesources" ||
         key == "fnoimagename" || key == "fsecureimagename"))
        key.erase(0, 1);

    auto text = [&] { return value.is_null() ? std::string() : FieldText(value, name); };
    if (key == "source")
        info.SetSource(text());
    else if (key == "pattern")
        info.SetPattern(text());
    else if (key == "noimagename")
        info.SetNoImageName(text());
    else if (key == "secureimagename")
        info.SetSecureImageName(text());
    else if (key == "alternatesources") {
        std::vector<std::string> sources;
        if (!value.is_null()) {
            if (!value.is_array())
                throw EConvertError("Member '" + name + "' is not an array of texts");
            for (const auto& item : value)
                sources.push_back(FieldText(item, name));
        }
        info.SetAlternateSources(sources);
    }
}

bool IsBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) <= 32; });
}

} // namespace

std::shared_ptr<TLumivaneInformation> TLumivaneInformation::FromJSON(std::string_view AJson) {
    const std::string text = lvutf8::Sanitize(AJson);

    // Members are applied in the order they appear, duplicates included, which a parsed
    // object (a map) no longer tells; the parser callback sees them in order.
    std::vector<std::pair<std::string, json>> members;
    bool topIsObject = false;
    bool first = true;
    std::string key;
    json::parser_callback_t collect = [&](int depth, json::parse_event_t event, json& parsed) {
        if (first) {
            topIsObject = event == json::parse_event_t::object_start;
            first = false;
        }
        if (!topIsObject || depth != 1)
            return true;
        switch (event) {
        case json::parse_event_t::key:
            key = parsed.get<std::string>();
            break;
        case json::parse_event_t::value:
        case json::parse_event_t::object_end:
        case json::parse_event_t::array_end:
            // Moved, not copied: copying a deeply nested value recurses once per level and
            // can overflow the stack; the parsed object itself is only checked for its type.
            members.emplace_back(key, std::move(parsed));
            break;
        default:
            break;
        }
        return true;
    };
    json parsed = json::parse(text, collect, /*allow_exceptions=*/false);

    if (!parsed.is_discarded() && parsed.is_object()) {
        auto info = std::make_shared<TLumivaneInformation>();
        for (const auto& [name, value] : members)
            Apply(*info, name, value);
        return info;
    }
    if (IsBlank(text) || (!parsed.is_discarded() && parsed.is_null()))
        return nullptr;
    throw EConvertError(kNotAnObject);
}

namespace {
// The name of an enumeration value, "?N" for a value without one. The number is appended
// to "?", not "?" prepended to it: GCC 12 at -O3 reports the insert a prepend makes as a
// possible overlapping copy (-Wrestrict), which the warnings-as-errors Release build stops on.
template <std::size_t N> std::string NameOf(const char* const (&ANames)[N], unsigned AValue) {
    if (AValue < N)
        return ANames[AValue];
    std::string unknown = "?";
    unknown += std::to_string(AValue);
    return unknown;
}
} // namespace

std::string ToString(TImageViewerCommand value) {
    static const char* names[] = {"vcUnknown", "vcOpen",      "vcClose",    "vcHide",
                                  "vcHandled", "vcTerminate", "vcConnected"};
    return NameOf(names, value);
}

std::string ToString(TImageViewerState value) {
    static const char* names[] = {"vsUnknown", "vsClosed", "vsOpening", "vsSearching",
                                  "vsOpen",    "vsIdle",   "vsClosing"};
    return NameOf(names, value);
}

std::string ToString(TTerminalCommand value) {
    static const char* names[] = {"tcUnknown",           "tcCapture",      "tcStopCapture",
                                  "tcChangePrinterName", "tcChangeKeySet", "tcIdle"};
    return NameOf(names, value);
}

std::string ToString(TCaptureFileState value) {
    static const char* names[] = {"cfsUnknown", "cfsNotCapturing", "cfsStartingCapture",
                                  "cfsCapturing"};
    return NameOf(names, value);
}
