#include "cli/PhotoMessages.h"

#include <cstring>

#include "imaging/JpegSource.h"

std::string FailureText(const PhotoReport& report, const std::string& destination) {
    using Failure = PhotoReport::Failure;
    switch (report.failure) {
    case Failure::SourceUnreadable:
        return std::string("cannot open the photograph: ") + std::strerror(report.error);
    case Failure::SourceNotRegular:
        return "cannot read the photograph: it is " + report.detail + ", not a file";
    case Failure::SourceUndecodable:
        return "cannot decode the photograph: " + report.detail;
    case Failure::SourceUnsupported:
        return "cannot decode the photograph: a JPEG with " + report.detail +
               " is not a colour or greyscale photograph";
    case Failure::SourceTooLarge:
        return "cannot decode the photograph: it needs more than the " +
               std::to_string(MAX_DECODER_MEMORY >> 20) + " MiB of memory the decoder may take (" + report.detail +
               ")";
    case Failure::SourceDamaged:
        return "refused (--strict): the photograph is damaged: " + report.detail;
    case Failure::SourceTooSmall:
        return {};
    case Failure::PrintTooLarge:
        return "the whole photograph's print would be larger than a JPEG can hold (" +
               std::to_string(JPEG_MAX_DIMENSION) + " pixels a side)";
    case Failure::FrameOutside:
        return "the frame lies outside the photograph; nothing to export";
    case Failure::Destination:
        return "Cannot create file " + destination + ": " + std::strerror(report.error);
    case Failure::None:
        break;
    }
    return destination.empty() ? "Cannot open this file" : "Cannot create file " + destination;
}

std::string DamagedOrientationText() {
    return "warning: the photograph's EXIF orientation is damaged; it is taken as stored";
}

std::string DamageText(const PhotoReport& report) {
    if (report.damageWarnings == 0) return {};
    std::string text = "warning: the photograph is damaged (" + report.firstDamage;
    if (report.damageWarnings > 1) text += ", and " + std::to_string(report.damageWarnings - 1) + " more";
    return text + "); its missing part is grey";
}
