// The image information record and its JSON reader.
#pragma once

#include "controlfile/ImageViewer.LumivaneImageInformation.Intf.h"

#include <stdexcept>
#include <string_view>

// Raised when a text cannot be turned into the record.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TLumivaneInformation final : public ILumivaneImageInformation {
public:
    void SetAlternateSources(const std::vector<std::string>& Value) override {
        FAlternateSources = Value;
    }
    void SetNoImageName(const std::string& Value) override { FNoImageName = Value; }
    void SetPattern(const std::string& Value) override { FPattern = Value; }
    void SetSecureImageName(const std::string& Value) override { FSecureImageName = Value; }
    void SetSource(const std::string& Value) override { FSource = Value; }
    std::vector<std::string> GetAlternateSources() const override { return FAlternateSources; }
    bool GetCanOpen() const override { return !FSource.empty() && !FPattern.empty(); }
    std::string GetNoImageName() const override { return FNoImageName; }
    std::string GetPattern() const override { return FPattern; }
    std::string GetSecureImageName() const override { return FSecureImageName; }
    std::string GetSource() const override { return FSource; }

    // Parses one JSON object. Returns null for empty (or blank) text and for `null`;
    // raises EConvertError "The input value is not a valid Object" for anything else
    // that is not an object, and for a member whose value does not fit its field.
    static std::shared_ptr<TLumivaneInformation> FromJSON(std::string_view AJson);

private:
    std::string FPattern;
    std::string FSource;
    std::vector<std::string> FAlternateSources;
    std::string FNoImageName;
    std::string FSecureImageName;
};
