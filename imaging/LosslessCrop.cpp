// Cuts the framed part out of a photograph without decoding it: the DCT
// coefficients of the blocks inside the frame are copied into a new file, so
// nothing of the photograph's quality is lost. Blocks cannot be split, so the
// frame's left and top move to the iMCU grid.
//
// A photograph stored on its side is turned in the same transform, and the
// frame is cut from the turned picture, on its grid. A turn that mirrors an
// axis cannot mirror a partial iMCU at the end of it: the library leaves
// those blocks where they were, unturned, at the far end of the turned
// picture, and the good picture starts that many pixels earlier than the
// upright one. Such a strip (less than one iMCU) is kept out of the cut: a
// frame reaching into it moves inward past it (right or down, by less than
// one iMCU) and keeps its size where the picture has room.
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <vector>

#include <turbojpeg.h>

#include "imaging/ColourProfile.h"
#include "imaging/Export.h"
#include "imaging/JpegSource.h"
#include "imaging/Metadata.h"
#include "imaging/Orientation.h"
#include "imaging/SourcePhoto.h"
#include "imaging/TempFile.h"
#include "platform/DeviceFs.h"

namespace {

struct Layout {
    jpeg_decompress_struct dinfo{};
    JpegErrorTrap trap;
    std::jmp_buf jump;
    bool created = false;
    int width = 0, height = 0;
    int mcuWidth = 0, mcuHeight = 0;
    unsigned long long sourceCoefficients = 0;  // bytes of the whole source's blocks
    int maxH = 1, maxV = 1;
    std::vector<int> h, v;
    int components = 0;
    J_COLOR_SPACE colour = JCS_UNKNOWN;
    OrientationTag orientation;
    // What its ICC profile says of its pixels.
    PhotoColour look;
};

// The source's size, iMCU and how much its coefficients take. Holds nothing
// with a destructor of its own: a fatal library error leaves through longjmp.
bool ReadLayout(Layout& l, const std::vector<unsigned char>& file) {
    if (setjmp(l.jump)) return false;
    l.dinfo.err = InitErrorTrap(l.trap, &l.jump);
    jpeg_create_decompress(&l.dinfo);
    l.created = true;
    jpeg_mem_src(&l.dinfo, file.data(), static_cast<unsigned long>(file.size()));
    SaveLookMarkers(l.dinfo);
    jpeg_read_header(&l.dinfo, TRUE);
    l.orientation = ReadOrientationTag(l.dinfo);
    SourceColour sourceColour = SourceColour::Rgb;
    if (SelectRgbOutput(l.dinfo, sourceColour)) l.look.Prepare(l.dinfo, sourceColour);
    l.width = static_cast<int>(l.dinfo.image_width);
    l.height = static_cast<int>(l.dinfo.image_height);
    l.maxH = l.dinfo.max_h_samp_factor;
    l.maxV = l.dinfo.max_v_samp_factor;
    l.components = l.dinfo.num_components;
    l.colour = l.dinfo.jpeg_color_space;
    // One component: the iMCU is a single block whatever its factors say.
    l.mcuWidth = l.dinfo.num_components == 1 ? DCTSIZE : DCTSIZE * l.maxH;
    l.mcuHeight = l.dinfo.num_components == 1 ? DCTSIZE : DCTSIZE * l.maxV;
    const unsigned long long mcusAcross = (static_cast<unsigned long long>(l.width) + l.mcuWidth - 1) / l.mcuWidth;
    const unsigned long long mcusDown = (static_cast<unsigned long long>(l.height) + l.mcuHeight - 1) / l.mcuHeight;
    for (int c = 0; c < l.dinfo.num_components; ++c) {
        const jpeg_component_info& comp = l.dinfo.comp_info[c];
        const int h = l.dinfo.num_components == 1 ? 1 : comp.h_samp_factor;
        const int v = l.dinfo.num_components == 1 ? 1 : comp.v_samp_factor;
        l.h.push_back(h);
        l.v.push_back(v);
        l.sourceCoefficients += mcusAcross * h * mcusDown * v * sizeof(JBLOCK);
    }
    return true;
}

// Whether the transformer's output is a whole JPEG file of width x height.
// After a warning (damaged data copied over) the library also reports a
// later fatal error as a warning, with a buffer it never finished.
bool CompleteCut(const unsigned char* out, unsigned long size, int width, int height) {
    if (!out || size < 4 || out[0] != 0xFF || out[1] != 0xD8 || out[size - 2] != 0xFF || out[size - 1] != 0xD9)
        return false;
    const std::vector<unsigned char> file(out, out + size);
    Layout cut;
    const bool readable = ReadLayout(cut, file);
    if (cut.created) jpeg_destroy_decompress(&cut.dinfo);
    return readable && cut.width == width && cut.height == height;
}

// The library's transform that makes the stored picture upright.
TJXOP TurnFor(const Orientation& turn) {
    switch (turn.Tag()) {
    case 2: return TJXOP_HFLIP;
    case 3: return TJXOP_ROT180;
    case 4: return TJXOP_VFLIP;
    case 5: return TJXOP_TRANSPOSE;
    case 6: return TJXOP_ROT90;
    case 7: return TJXOP_TRANSVERSE;
    case 8: return TJXOP_ROT270;
    default: return TJXOP_NONE;
    }
}

// One axis of the turned picture: the cut's start and length on it, upright.
struct CutAxis {
    int start = 0, length = 0;
};

// size: the upright length; grid: the turned picture's iMCU along it (and
// the library's own alignment check); strip: the partial iMCU a mirroring
// turn leaves at the far end, which the upright picture has at its start.
// The cut keeps the frame's length unless the picture ends first.
CutAxis PlaceCut(int from, int to, int size, int grid, int strip) {
    CutAxis a;
    const int usable = from > strip ? from : strip;
    const int turned = usable - strip;
    a.start = turned - turned % grid + strip;
    a.length = std::min(a.start + (to - from), size) - a.start;
    return a;
}

// Where the cut lies in the upright picture and in the turned one the
// transform works on.
struct CutPlan {
    Orientation turn;
    int x = 0, y = 0, w = 0, h = 0;  // upright
    int stripX = 0, stripY = 0;      // the partial iMCUs a mirroring turn leaves
};

bool PlanCut(const Layout& layout, const Orientation& turn, const CRect& crop, CutPlan& plan, LosslessCut& cut,
             std::string& error) {
    const CSize upright = turn.UprightSize(CSize(layout.width, layout.height));
    if (crop.left < 0 || crop.top < 0 || crop.right > upright.cx || crop.bottom > upright.cy ||
        crop.left >= crop.right || crop.top >= crop.bottom) {
        error = "the frame lies outside the photograph";
        return false;
    }
    // The turned picture's iMCU; the library checks the offset against the
    // source's, so the grid is the coarser of the two.
    const int turnedMcuWidth = turn.Transposed() ? layout.mcuHeight : layout.mcuWidth;
    const int turnedMcuHeight = turn.Transposed() ? layout.mcuWidth : layout.mcuHeight;
    const int gridX = std::max(turnedMcuWidth, layout.mcuWidth);
    const int gridY = std::max(turnedMcuHeight, layout.mcuHeight);
    const bool mirroredX = turn.Transposed() ? turn.MirrorY() : turn.MirrorX();
    const bool mirroredY = turn.Transposed() ? turn.MirrorX() : turn.MirrorY();
    plan.turn = turn;
    plan.stripX = mirroredX ? upright.cx % turnedMcuWidth : 0;
    plan.stripY = mirroredY ? upright.cy % turnedMcuHeight : 0;
    // Moving left and top down keeps the frame inside; the clip only guards
    // a frame that was not, or one that reaches into a strip.
    const CutAxis across = PlaceCut(crop.left, crop.right, upright.cx, gridX, plan.stripX);
    const CutAxis down = PlaceCut(crop.top, crop.bottom, upright.cy, gridY, plan.stripY);
    plan.x = across.start;
    plan.y = down.start;
    plan.w = across.length;
    plan.h = down.length;
    if (plan.w <= 0 || plan.h <= 0) {
        error = "the frame lies in the photograph's edge, which cannot be turned losslessly";
        return false;
    }
    cut.written = CRect(plan.x, plan.y, plan.x + plan.w, plan.y + plan.h);
    cut.shiftX = crop.left - plan.x;
    cut.shiftY = crop.top - plan.y;
    cut.clipped = plan.w != crop.Width() || plan.h != crop.Height();
    // The transform holds every coefficient of the source, and for a frame
    // off the origin a second set for the frame's blocks.
    unsigned long long workspace = 0;
    if (plan.x != 0 || plan.y != 0 || !turn.IsUpright()) {
        const unsigned long long mcusAcross = (plan.w + turnedMcuWidth - 1) / turnedMcuWidth;
        const unsigned long long mcusDown = (plan.h + turnedMcuHeight - 1) / turnedMcuHeight;
        for (size_t c = 0; c < layout.h.size(); ++c)
            workspace += mcusAcross * layout.h[c] * mcusDown * layout.v[c] * sizeof(JBLOCK);
    }
    const unsigned long long coefficients = layout.sourceCoefficients + workspace;
    cut.coefficientBytes = static_cast<unsigned long>(coefficients);
    if (coefficients > static_cast<unsigned long long>(MAX_DECODER_MEMORY)) {
        error = "too large to cut losslessly";
        return false;
    }
    return true;
}

// The cut as a whole JPEG file in out (the library's memory, for tjFree).
bool Transform(const std::vector<unsigned char>& source, const CutPlan& plan, const ExportExtras& extras,
               unsigned char*& out, unsigned long& outSize, std::string& error) {
    tjhandle transformer = tjInitTransform();
    if (!transformer) {
        error = "out of memory";
        return false;
    }
    tjtransform t;
    std::memset(&t, 0, sizeof t);
    // The transform's crop is in the turned picture's coordinates.
    t.r.x = plan.x - plan.stripX;
    t.r.y = plan.y - plan.stripY;
    t.r.w = plan.w;
    t.r.h = plan.h;
    t.op = TurnFor(plan.turn);
    t.options = TJXOPT_CROP | TJXOPT_COPYNONE;
    const int status = tjTransform(transformer, source.data(), static_cast<unsigned long>(source.size()), 1, &out,
                                   &outSize, &t, extras.strict ? TJFLAG_STOPONWARNING : 0);
    const bool failed = status != 0 && (extras.strict || tjGetErrorCode(transformer) == TJERR_FATAL ||
                                        !CompleteCut(out, outSize, plan.w, plan.h));
    if (failed || !out || outSize == 0) {
        error = std::string("cannot cut it losslessly: ") + tjGetErrorStr2(transformer);
        tjFree(out);
        out = nullptr;
        tjDestroy(transformer);
        return false;
    }
    if (status != 0 && extras.warnings)
        extras.warnings->push_back(std::string("damaged data copied as it is: ") + tjGetErrorStr2(transformer));
    tjDestroy(transformer);
    return true;
}

// The cut with what goes along (the source's markers as asked, the
// resolution) in edited; edited stays empty when nothing does.
bool AddMarkers(const SourcePhoto& source, const Layout& layout, const CutPlan& plan, const ExportExtras& extras,
                const unsigned char* out, unsigned long outSize, std::vector<unsigned char>& edited,
                std::string& error) {
    SourceMetadata metadata;
    // The cut keeps the source's colour space: a CMYK cut stays CMYK.
    WrittenImage image;
    image.width = static_cast<uint32_t>(plan.w);
    image.height = static_cast<uint32_t>(plan.h);
    image.components = layout.components;
    image.dpi = extras.recordDpi;
    image.codedRgb = layout.colour == JCS_RGB;
    image.otherProfile = layout.look.Converts();
    if (extras.keepProfile || extras.keepMetadata) {
        std::vector<std::string> dropped;
        KeepSourceMetadata(source.Facts(), extras.keepProfile, extras.keepMetadata, image, metadata, dropped);
        if (extras.warnings) extras.warnings->insert(extras.warnings->end(), dropped.begin(), dropped.end());
    }
    // Nothing is decoded here, so nothing can be converted: a cut whose
    // profile is not sRGB keeps it, or it would be shown in wrong colours.
    // A damaged one stays out all the same (said when it was read, if asked).
    if (layout.look.Converts() && metadata.icc.empty()) {
        if (ProfileIsWhole(layout.look.Profile()))
            metadata.icc = layout.look.Profile();
        else if (!extras.keepProfile && !extras.keepMetadata && extras.warnings)
            extras.warnings->push_back("its colour profile is damaged; left out");
    }
    // JFIF is a header for YCbCr and greyscale files only; libjpeg writes
    // none for a photograph coded in RGB or CMYK. Such a file records the
    // resolution in EXIF, which print dialogs and lab software read as well.
    const bool jfif = outSize >= 11 && out[2] == 0xFF && out[3] == 0xE0 && std::memcmp(out + 6, "JFIF", 5) == 0;
    if (extras.recordDpi > 0 && !jfif && metadata.exif.empty()) metadata.exif = ResolutionExif(image);
    if (extras.recordDpi <= 0 && metadata.Empty()) return true;
    bool densitySet = false;
    edited = WithMetadata(out, outSize, metadata, extras.recordDpi, densitySet);
    if (extras.recordDpi > 0 && !densitySet && metadata.exif.empty() && extras.warnings)
        extras.warnings->push_back(layout.colour == JCS_RGB
                                       ? "its cut has no JFIF header (a photograph coded in RGB, not YCbCr); the "
                                         "resolution is not recorded"
                                       : "its cut has no JFIF header (a CMYK photograph); the resolution is not "
                                         "recorded");
    if (edited.empty()) {
        error = "cannot add the markers to the cut";
        return false;
    }
    return true;
}

bool WriteCut(const std::wstring& destinationPath, const unsigned char* bytes, size_t size,
              const ExportExtras& extras, std::string& error) {
    TempFile file;
    const std::string target = devfs::ToHostPath(destinationPath);
    bool ok = file.Create(target);
    if (ok && std::fwrite(bytes, 1, size, file.Stream()) != size) {
        file.SetError(errno);
        ok = false;
    }
    if (ok) ok = file.Commit();
    file.Discard();
    if (!file.LeftBehind().empty() && extras.warnings) extras.warnings->push_back(LeftBehindText(file));
    if (!ok) error = "Cannot create file " + target + ": " + std::strerror(file.Error() ? file.Error() : EIO);
    return ok;
}

}  // namespace

int ExportLossless(SourcePhoto& source, const std::wstring& destinationPath, const CRect& crop,
                   const ExportExtras& extras, LosslessCut& cut, std::string& error) {
    cut = LosslessCut();
    if (source.IsHeif()) {
        error = "it is a HEIF photograph, which holds no JPEG data to cut; export it without --lossless";
        return 0;
    }
    std::vector<unsigned char> bytes;
    int readError = 0;
    if (!source.ReadAll(bytes, readError)) {
        error = std::string("cannot read it: ") + std::strerror(readError);
        return 0;
    }
    Layout layout;
    const bool readable = ReadLayout(layout, bytes);
    if (layout.created) jpeg_destroy_decompress(&layout.dinfo);
    CutPlan plan;
    if (!readable) {
        error = "not a JPEG file that can be cut losslessly";
        return 0;
    }
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    if (!PlanCut(layout, layout.orientation.orientation, crop, plan, cut, error) ||
        !Transform(bytes, plan, extras, out, outSize, error))
        return 0;
    bytes = std::vector<unsigned char>();
    std::vector<unsigned char> edited;
    bool ok = AddMarkers(source, layout, plan, extras, out, outSize, edited, error);
    if (ok)
        ok = edited.empty() ? WriteCut(destinationPath, out, outSize, extras, error)
                            : WriteCut(destinationPath, edited.data(), edited.size(), extras, error);
    tjFree(out);
    return ok ? 1 : 0;
}

int ExportLossless(const std::wstring& sourcePath, const std::wstring& destinationPath, const CRect& crop,
                   const ExportExtras& extras, LosslessCut& cut, std::string& error) {
    cut = LosslessCut();
    SourcePhoto source;
    PhotoReport report;
    if (!source.Open(sourcePath, report)) {
        if (report.failure == PhotoReport::Failure::SourceNotRegular)
            error = report.detail + ", not a photograph";
        else if (report.failure == PhotoReport::Failure::SourceUnreadable)
            error = std::string("cannot open it: ") + std::strerror(report.error);
        else
            error = "not a JPEG file that can be cut losslessly";
        return 0;
    }
    return ExportLossless(source, destinationPath, crop, extras, cut, error);
}
