#pragma once
// The two long operations on a photograph: decoding it into a small preview,
// and writing its framed part as a new JPEG. Both stream rows; neither holds
// the whole picture. Neither says anything to the user: what happened is in
// the PhotoReport, for the window and the command line to word.
#include <string>

#include "imaging/PreviewBuffer.h"
#include "platform/ProgressSink.h"
#include "platform/WinTypes.h"

class SourcePhoto;

// What a caller may learn beyond 1 or 0: why an operation failed, and what
// damage the decoder patched up on the way. Passing none changes nothing.
struct PhotoReport {
    // In: refuse a photograph whose data is damaged instead of going on with
    // substitute (grey) data. The export then writes nothing.
    bool strict = false;

    enum class Failure {
        None,
        SourceUnreadable,   // cannot be opened; error says why
        SourceNotRegular,   // a folder, FIFO, device or socket; detail says which
        SourceUndecodable,  // not a JPEG or broken beyond use; detail is the library's text
        SourceUnsupported,  // a component layout that is not a photograph; detail says which
        SourceTooLarge,     // needs more memory than the decoder may take
        SourceDamaged,      // damaged data under strict; detail is the damage
        SourceTooSmall,     // below 800 x 600
        OutOfMemory,        // the preview's buffers could not be had
        FrameOutside,       // the crop does not lie inside the photograph
        Destination,        // cannot create or write the new file; error says why
    };
    Failure failure = Failure::None;
    int error = 0;
    std::string detail;

    // Damage met while decoding: the number of warnings about it and the
    // library's text of the first ("Premature end of JPEG file", "Corrupt
    // JPEG data: ..."). Set on success too.
    int damageWarnings = 0;
    std::string firstDamage;

    // The EXIF Orientation tag could not be read or held no orientation: the
    // photograph was taken as stored. Set on success too.
    bool damagedOrientation = false;

    // The photograph's colour profile could not be used (damaged, or not one
    // for its pixels), so its colours were taken as sRGB: why. Else empty.
    std::string profileProblem;
};

// box: in, the largest preview the caller can show (1..800 x 1..600); out, the
// preview's size. sourceSize: out, the photograph's size. Both, and the
// preview, are upright (turned as its EXIF Orientation says). A photograph
// below 800 x 600 is refused (SourceTooSmall), leaving all three as they
// were. Returns 1 or 0; report says why not, and what damage was met.
int DecodePreview(SourcePhoto& source, CSize& box, CSize& sourceSize, PreviewBuffer& preview,
                  ProgressSink& progress, PhotoReport& report);
// The same for the photograph at path, opened for it.
int DecodePreview(const std::wstring& path, CSize& box, CSize& sourceSize, PreviewBuffer& preview,
                  ProgressSink& progress, PhotoReport& report);

// The size rule alone, as DecodePreview applies it, without decoding the
// pixels: 1 when the photograph is large enough; else 0, with report saying
// why (SourceTooSmall, or why it cannot be decoded at all). The source
// cannot be decoded after a refusal.
int CheckSizeRule(SourcePhoto& source, PhotoReport& report);
