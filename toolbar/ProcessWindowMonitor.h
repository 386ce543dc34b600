// The console window titles: the host titles each console window with one format filled
// with that console's instance id. The monitor that finds those windows and reports where
// one of them stands is TConsoleMonitor (ProcessWindowMonitor.ConsoleMonitor.h).
#pragma once

#include "platform/Assertion.h"
#include "platform/WindowSystem.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

using lvplatform::WINDOWPLACEMENT;

// A title format that cannot take the one integer it is given.
class EFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Receives a console window's placement; it only reads it.
using TConsoleInfoCallback = std::function<void(const WINDOWPLACEMENT&)>;

// The console window title format, set once from the control block. An empty text
// clears it (program end, tests).
bool IsProcessWindowTextFormatSet();
void SetProcessWindowTextFormat(const std::string& AFormat);
// Raises EAssertionFailed "ProcessWindowTextFormat not set prior to calling" when unset.
std::string GetProcessWindowTextFormat();
// The title of console instance AInstanceID: the format filled with the id.
std::string ProcessWindowText(std::uint16_t AInstanceID);

// Fills a printf-style format that holds at most one integer conversion (d i u x X o,
// with flags, width, precision and length modifiers) and any number of "%%". Anything
// else raises EFormatError, so a bad format never reads a missing argument.
std::string FormatWithInteger(const std::string& AFormat, std::int32_t AValue);
