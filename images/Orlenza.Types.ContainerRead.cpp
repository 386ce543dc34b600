// Reading a container file's text under an exclusive open, with the retries a file
// locked by another process gets, and the classification of the failures.
#include "images/Orlenza.Types.h"

#include "platform/FileSystem.h"
#include "platform/Utf8.h"

#include <chrono>
#include <random>
#include <thread>

namespace {

const std::vector<std::string>& LockedTexts() {
    static const std::vector<std::string> texts = lvplatform::LockedErrorTexts();
    return texts;
}

const std::vector<std::string>& SecuredTexts() {
    static const std::vector<std::string> texts = lvplatform::SecuredErrorTexts();
    return texts;
}

bool ContainsAny(const std::string& AMessage, const std::vector<std::string>& ATexts) {
    for (const std::string& t : ATexts)
        if (!t.empty() && AMessage.find(t) != std::string::npos)
            return true;
    return false;
}

int RandomPause(int AMax) {
    thread_local std::minstd_rand generator{std::random_device{}()};
    return std::uniform_int_distribution<int>(1, AMax)(generator);
}

} // namespace

TContainerRead::TContainerRead(std::string AFileName) : FFileName(std::move(AFileName)) {}

int TContainerRead::Try(const std::function<int(int AMaxMilliseconds)>& ARandom) {
    if (FEnded)
        return 0;
    lvplatform::TExclusiveRead read =
        lvplatform::ReadFileExclusive(lvplatform::Utf8Path(FFileName), MaxContainerBytes);
    FEnded = true;
    switch (read.Stage) {
    case lvplatform::TExclusiveRead::rsDone:
        // One pass over the bytes, each malformed one becoming U+FFFD.
        FText = lvutf8::Sanitize(read.Bytes);
        return 0;
    case lvplatform::TExclusiveRead::rsOpenFailed:
        if (IsLockedError(read.Message)) {
            FWaited += 100;
            if (FWaited > 300) {
                FReason = corLocked;
                return 0;
            }
            FEnded = false;
            return ARandom ? ARandom(FWaited) : RandomPause(FWaited);
        }
        FReason = IsSecuredError(read.Message) ? corSecured : corUnknown;
        return 0;
    case lvplatform::TExclusiveRead::rsReadFailed:
    case lvplatform::TExclusiveRead::rsTooLarge:
        break;
    }
    FReason = corUnknown;
    return 0;
}

void ReadAliasText(const std::string& AFileName, TLumivaneCantOpenReason& AReason,
                   std::string& AText, const TAliasReadPauses& APauses) {
    AText.clear();
    TContainerRead read(AFileName);
    while (const int pause = read.Try(APauses.Random)) {
        if (APauses.Sleep)
            APauses.Sleep(pause);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    }
    // A read that went through leaves the caller's reason as it was.
    if (read.Reason() != corNone)
        AReason = read.Reason();
    AText = read.TakeText();
}

bool IsLockedError(const std::string& AMessage) {
    return ContainsAny(AMessage, LockedTexts());
}

bool IsSecuredError(const std::string& AMessage) {
    return ContainsAny(AMessage, SecuredTexts());
}
