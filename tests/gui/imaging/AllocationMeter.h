// Counts the heap memory the whole process holds (malloc and everything built on it: new,
// QImage, libtiff, libjpeg, libpng) and its peak, so a test can bound what a decode
// allocates without timing or guessing. Linking AllocationMeter.cpp into an executable
// replaces malloc & co with counting wrappers around glibc's own. Under AddressSanitizer
// (which brings its own malloc) the meter is not built in and Available() is false.
#pragma once

namespace AllocationMeter {

bool Available();
// Bytes held now.
long long Current();
// The most held at any time since the last ResetPeak().
long long Peak();
// Starts a new peak from what is held now.
void ResetPeak();

// The peak growth over what was held when it was made, for one stretch of code.
class TScope {
public:
    TScope() : FBase((ResetPeak(), Current())) {}
    long long PeakGrowth() const { return Peak() - FBase; }

private:
    long long FBase;
};

} // namespace AllocationMeter
