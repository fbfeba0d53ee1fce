#include "print/PhotoMessages.h"

#include <cstring>

#include "imaging/JpegSource.h"
#include "platform/Strings.h"

namespace {

// Each failure's words, in full and in a few: one table for both.
struct Words {
    std::string full;
    std::string gist;
};

Words WordsFor(const PhotoReport& report, const std::string& destination) {
    using Failure = PhotoReport::Failure;
    const std::string why = std::strerror(report.error);
    switch (report.failure) {
    case Failure::SourceUnreadable:
        return {"cannot open the photograph: " + why, "cannot be read (" + why + ")"};
    case Failure::SourceNotRegular:
        return {"cannot read the photograph: it is " + report.detail + ", not a file", "not a file"};
    case Failure::SourceUndecodable:
        return {"cannot decode the photograph: " + report.detail, "not a JPEG, or damaged"};
    case Failure::SourceUnsupported:
        return {"cannot decode the photograph: a JPEG with " + report.detail +
                    " is not a colour or greyscale photograph",
                "not a colour or greyscale photograph"};
    case Failure::SourceTooLarge:
        return {"cannot decode the photograph: it needs more than the " + std::to_string(MAX_DECODER_MEMORY >> 20) +
                    " MiB of memory the decoder may take (" + report.detail + ")",
                "too large to decode"};
    case Failure::SourceDamaged:
        return {"refused (--strict): the photograph is damaged: " + report.detail, "damaged"};
    case Failure::SourceTooSmall:
        return {"Image must be lagrer then 800x600", "smaller than 800x600"};
    case Failure::OutOfMemory:
        return {"out of memory", "out of memory"};
    case Failure::FrameOutside:
        return {EmptyFrameText(), "the photograph has changed since it was framed"};
    case Failure::Destination:
        return {"Cannot create file " + destination + ": " + why,
                report.error ? "cannot create the file (" + why + ")" : "cannot create the file"};
    case Failure::None:
        break;
    }
    return {destination.empty() ? "Cannot open this file" : "Cannot create file " + destination,
            "cannot create the file"};
}

}  // namespace

std::string FailureText(const PhotoReport& report, const std::string& destination) {
    return WordsFor(report, destination).full;
}

std::wstring PhotoFailureText(const PhotoReport& report) { return FromUtf8(WordsFor(report, {}).gist); }

std::string DamagedOrientationText() {
    return "warning: the photograph's EXIF orientation is damaged; it is taken as stored";
}

std::string DamageText(const PhotoReport& report) {
    if (report.damageWarnings == 0) return {};
    std::string text = "warning: the photograph is damaged (" + report.firstDamage;
    if (report.damageWarnings > 1) text += ", and " + std::to_string(report.damageWarnings - 1) + " more";
    return text + "); its missing part is grey";
}

std::string LowResolutionText(const std::string& formatName, long dpi, int minDpi) {
    return "low resolution for " + formatName + ": " + std::to_string(dpi) + " dpi, below " + std::to_string(minDpi) +
           " dpi";
}

std::string SameOutputText(const std::string& output, const std::string& other, const std::string& otherOutput) {
    std::string text = "skipped: " + output + " is already written for " + other;
    if (otherOutput != output) text += " (as " + otherOutput + ": the storage takes both names for one file)";
    return text;
}

std::string ReplacesPhotographText(const std::string& other) {
    return "skipped: its output would replace " + other + ", which is exported in the same run";
}

std::string OverwritesSourceText() { return "You cannot overwrite the file, please select another folder."; }

std::string EmptyFrameText() { return "the frame lies outside the photograph; nothing to export"; }

std::string NoFormatText() { return "no print format"; }
