// The image information JSON a host writes into the block. The only failure allowed is
// the conversion error; a record holds well-formed UTF-8 only, and reading the same text
// twice gives the same record.
#include "FuzzCheck.h"

#include "controlfile/ImageViewer.LumivaneImageInformation.h"

#include <cstdint>
#include <string_view>

namespace {

std::string Describe(const ILumivaneImageInformationPtr& info) {
    if (!info)
        return "none";
    std::string text = info->GetSource() + '\n' + info->GetPattern() + '\n' +
                       info->GetNoImageName() + '\n' + info->GetSecureImageName();
    for (const auto& source : info->GetAlternateSources())
        text += '\n' + source;
    return text;
}

// The record for `text`, or "error" when the reader refused it.
std::string Read(std::string_view text) {
    try {
        return Describe(TLumivaneInformation::FromJSON(text));
    } catch (const EConvertError&) {
        return "error";
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string first = Read(text);
    LV_FUZZ_CHECK(IsWellFormedUtf8(first));
    LV_FUZZ_CHECK(Read(text) == first);
    return 0;
}
