#include "positions/PrintOptionsStore.h"

#include "positions/FileStore.h"
#include "positions/ScreenPositionTracker.h"

#include <nlohmann/json.hpp>

#include <array>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 3> PagesNames = {"shownPage", "filePages", "listFiles"};
constexpr std::array<std::string_view, 3> SizeNames = {"fitWidth", "fitPage", "actualSize"};
constexpr std::array<std::string_view, 2> OrientationNames = {"automatic", "printer"};

template <typename TEnum, std::size_t N>
void ReadChoice(const nlohmann::json& doc, const char* key,
                const std::array<std::string_view, N>& names, TEnum& out) {
    const auto found = doc.find(key);
    if (found == doc.end() || !found->is_string())
        return;
    const auto& value = found->template get_ref<const std::string&>();
    for (std::size_t i = 0; i < N; ++i)
        if (value == names[i])
            out = static_cast<TEnum>(i);
}

template <typename TEnum, std::size_t N>
std::string ChoiceName(const std::array<std::string_view, N>& names, TEnum value) {
    const auto i = static_cast<std::size_t>(value);
    return std::string(i < N ? names[i] : names[0]);
}

} // namespace

TPrintOptionsStore::TPrintOptionsStore(const std::filesystem::path& AFolder,
                                       const std::string& AConnectionName)
    : FFileName(lvpositions::ConnectionFile(AFolder, AConnectionName, ".print")) {}

std::optional<TPrintOptions> TPrintOptionsStore::Load() const {
    const auto text = lvpositions::ReadBoundedFile(FFileName, MaxFileSize);
    if (!text || !lvpositions::JsonNestingWithin(*text, 4))
        return std::nullopt;
    const nlohmann::json doc = nlohmann::json::parse(*text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object())
        return std::nullopt;
    TPrintOptions options;
    if (const auto printer = doc.find("printer"); printer != doc.end() && printer->is_string())
        options.PrinterName = printer->get<std::string>();
    ReadChoice(doc, "pages", PagesNames, options.Pages);
    ReadChoice(doc, "size", SizeNames, options.Size);
    if (const auto asShown = doc.find("asShown"); asShown != doc.end() && asShown->is_boolean())
        options.AsShown = asShown->get<bool>();
    ReadChoice(doc, "orientation", OrientationNames, options.Orientation);
    if (const auto folder = doc.find("pdfFolder"); folder != doc.end() && folder->is_string())
        options.PdfFolder = folder->get<std::string>();
    return options;
}

bool TPrintOptionsStore::Save(const TPrintOptions& AOptions) const {
    nlohmann::ordered_json doc;
    doc["printer"] = AOptions.PrinterName;
    doc["pages"] = ChoiceName(PagesNames, AOptions.Pages);
    doc["size"] = ChoiceName(SizeNames, AOptions.Size);
    doc["asShown"] = AOptions.AsShown;
    doc["orientation"] = ChoiceName(OrientationNames, AOptions.Orientation);
    if (!AOptions.PdfFolder.empty())
        doc["pdfFolder"] = AOptions.PdfFolder;
    try {
        // Printer names come from the system; bytes that are no UTF-8 are replaced rather
        // than failing the save.
        lvpositions::ReplaceFile(
            FFileName, doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
        return true;
    } catch (...) {
        return false;
    }
}
