// The one exception type of failed assertions, shared by every unit that asserts.
#pragma once

#include <stdexcept>

// A programming error caught by an assertion; the message names the unit and line.
class EAssertionFailed : public std::logic_error {
public:
    using std::logic_error::logic_error;
};
