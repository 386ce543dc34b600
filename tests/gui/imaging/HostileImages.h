// A corpus of broken and hostile image files, written by the tests themselves with the real
// encoders and then damaged: zero-byte, truncated and random-after-signature files of every
// format the viewer reads, decompression bombs that stay within the size limits, absurd
// strips and tiles, garbled directories. The decoding tests and the window tests run the
// same corpus.
#pragma once

#include <QString>

#include <vector>

struct THostileImage {
    QString Name; // file name inside the folder
    QString What; // what is wrong with it, for row names
    // Whether it must decode: a bomb the decoder can take within its budget shows like any
    // picture; everything else must fail with an error naming the file and a reason.
    bool Decodes = false;
    // A piece of that reason when one is certain (empty: any reason).
    QString Reason;
};

// Writes the corpus into AFolder (which must exist). Deterministic: the random bytes come
// from a fixed seed. Takes a few seconds (the bombs are large pictures, coded small).
std::vector<THostileImage> WriteHostileImages(const QString& AFolder);
