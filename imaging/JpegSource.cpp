#include "imaging/JpegSource.h"

#include <cerrno>
#include <csetjmp>
#include <string>

#include <jerror.h>

#include "imaging/Pipeline.h"

namespace {

void SilentOutput(j_common_ptr) {}

[[noreturn]] void ReturnToTrap(j_common_ptr cinfo) {
    auto* trap = reinterpret_cast<JpegErrorTrap*>(cinfo->err);
    if (!trap->failed) {
        trap->failed = true;
        trap->savedErrno = errno;
        trap->code = cinfo->err->msg_code;
        (*cinfo->err->format_message)(cinfo, trap->text);
    }
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(*trap->target, 1);
}

// The warnings that mean pixels are missing or wrong. Others (an unknown
// JFIF revision, a bad ICC marker, reading past the last row) leave the
// picture whole.
bool IsDamage(int code) {
    switch (code) {
    case JWRN_ARITH_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
        return true;
    default:
        return false;
    }
}

void NoteMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;  // trace output
    auto* trap = reinterpret_cast<JpegErrorTrap*>(cinfo->err);
    ++cinfo->err->num_warnings;
    if (!IsDamage(cinfo->err->msg_code)) return;
    if (trap->damage++ == 0) (*cinfo->err->format_message)(cinfo, trap->firstDamage);
    if (trap->strict) {
        trap->refusedDamage = true;
        (*cinfo->err->error_exit)(cinfo);
    }
}

}  // namespace

jpeg_error_mgr* InitErrorTrap(JpegErrorTrap& trap, std::jmp_buf* target) {
    jpeg_error_mgr* err = jpeg_std_error(&trap.pub);
    err->error_exit = ReturnToTrap;
    err->output_message = SilentOutput;
    err->emit_message = NoteMessage;
    trap.target = target;
    return err;
}

void ReportDamage(const JpegErrorTrap& trap, PhotoReport& report) {
    report.damageWarnings = trap.damage;
    report.firstDamage = trap.damage > 0 ? trap.firstDamage : "";
}

void ReportDecoderFailure(const JpegErrorTrap& trap, const jpeg_decompress_struct& cinfo, PhotoReport& report) {
    using Failure = PhotoReport::Failure;
    ReportDamage(trap, report);
    if (trap.refusedDamage) {
        report.failure = Failure::SourceDamaged;
        report.detail = trap.firstDamage;
    } else if (trap.failed && (trap.code == JERR_OUT_OF_MEMORY || trap.code == JERR_NO_BACKING_STORE)) {
        // The memory cap: a progressive picture this large needs more than
        // the decoder may take.
        report.failure = Failure::SourceTooLarge;
        report.detail = trap.text;
    } else if (trap.failed) {
        report.failure = Failure::SourceUndecodable;
        report.detail = trap.text;
    } else {
        report.failure = Failure::SourceUnsupported;
        report.detail = std::to_string(cinfo.num_components) +
                        (cinfo.num_components == 1 ? " colour component" : " colour components");
    }
}

bool SelectRgbOutput(jpeg_decompress_struct& cinfo, SourceColour& colour) {
    switch (cinfo.jpeg_color_space) {
    case JCS_YCbCr:
    case JCS_RGB:
        if (cinfo.num_components != 3) return false;
        cinfo.out_color_space = JCS_RGB;
        colour = SourceColour::Rgb;
        return true;
    case JCS_GRAYSCALE:
        if (cinfo.num_components != 1) return false;
        cinfo.out_color_space = JCS_RGB;
        colour = SourceColour::Rgb;
        return true;
    case JCS_CMYK:
    case JCS_YCCK:
        // The library turns YCCK into CMYK but not CMYK into RGB; that last
        // step is ours. An Adobe marker means the inks are stored inverted,
        // which is how Photoshop and everything imitating it write them.
        if (cinfo.num_components != 4) return false;
        cinfo.out_color_space = JCS_CMYK;
        colour = cinfo.saw_Adobe_marker ? SourceColour::CmykInverted : SourceColour::Cmyk;
        return true;
    default:
        return false;
    }
}

void CmykToRgb(const JSAMPLE* cmyk, JSAMPLE* rgb, size_t n, bool inverted) {
    if (inverted) {
        for (size_t i = 0; i < n; ++i, cmyk += 4, rgb += 3) {
            unsigned k = cmyk[3];
            rgb[0] = static_cast<JSAMPLE>((cmyk[0] * k + 127) / 255);
            rgb[1] = static_cast<JSAMPLE>((cmyk[1] * k + 127) / 255);
            rgb[2] = static_cast<JSAMPLE>((cmyk[2] * k + 127) / 255);
        }
    } else {
        for (size_t i = 0; i < n; ++i, cmyk += 4, rgb += 3) {
            unsigned k = 255u - cmyk[3];
            rgb[0] = static_cast<JSAMPLE>(((255u - cmyk[0]) * k + 127) / 255);
            rgb[1] = static_cast<JSAMPLE>(((255u - cmyk[1]) * k + 127) / 255);
            rgb[2] = static_cast<JSAMPLE>(((255u - cmyk[2]) * k + 127) / 255);
        }
    }
}

void SaveLookMarkers(jpeg_decompress_struct& cinfo) {
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
}
