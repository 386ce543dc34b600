// The values stored in the control block's one-byte enumeration fields, and the
// interface of the image information record the host writes into the block.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Pending command from the host (byte 0).
enum TImageViewerCommand : std::uint8_t {
    vcUnknown = 0,
    vcOpen = 1,
    vcClose = 2,
    vcHide = 3,
    vcHandled = 4,
    vcTerminate = 5,
    vcConnected = 6,
};

// The viewer's state (byte 16).
enum TImageViewerState : std::uint8_t {
    vsUnknown = 0,
    vsClosed = 1,
    vsOpening = 2,
    vsSearching = 3,
    vsOpen = 4,
    vsIdle = 5,
    vsClosing = 6,
};

// Terminal command for the host (byte 6).
enum TTerminalCommand : std::uint8_t {
    tcUnknown = 0,
    tcCapture = 1,
    tcStopCapture = 2,
    tcChangePrinterName = 3,
    tcChangeKeySet = 4,
    tcIdle = 5,
};

// State of capturing the terminal to a disk file (byte 2146).
enum TCaptureFileState : std::uint8_t {
    cfsUnknown = 0,
    cfsNotCapturing = 1,
    cfsStartingCapture = 2,
    cfsCapturing = 3,
};

// Names for traces and the reference host; "?" followed by the number for values
// outside the enumeration.
std::string ToString(TImageViewerCommand value);
std::string ToString(TImageViewerState value);
std::string ToString(TTerminalCommand value);
std::string ToString(TCaptureFileState value);

// Where the images live and what their identifiers look like.
class ILumivaneImageInformation {
public:
    virtual ~ILumivaneImageInformation() = default;
    virtual void SetAlternateSources(const std::vector<std::string>& Value) = 0;
    virtual void SetNoImageName(const std::string& Value) = 0;
    virtual void SetPattern(const std::string& Value) = 0;
    virtual void SetSecureImageName(const std::string& Value) = 0;
    virtual void SetSource(const std::string& Value) = 0;
    virtual std::vector<std::string> GetAlternateSources() const = 0;
    virtual bool GetCanOpen() const = 0;
    virtual std::string GetNoImageName() const = 0;
    virtual std::string GetPattern() const = 0;
    virtual std::string GetSecureImageName() const = 0;
    virtual std::string GetSource() const = 0;
};

using ILumivaneImageInformationPtr = std::shared_ptr<ILumivaneImageInformation>;
