// Cuts the framed part out of a photograph without decoding it: the DCT
// coefficients of the blocks inside the frame are copied into a new file, so
// nothing of the photograph's quality is lost. Blocks cannot be split, so the
// frame's left and top move to the iMCU grid.
#include <sys/stat.h>

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
    PhotoColour colour;
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
    SourceColour colour = SourceColour::Rgb;
    if (SelectRgbOutput(l.dinfo, colour)) l.colour.Prepare(l.dinfo, colour);
    l.width = static_cast<int>(l.dinfo.image_width);
    l.height = static_cast<int>(l.dinfo.image_height);
    l.maxH = l.dinfo.max_h_samp_factor;
    l.maxV = l.dinfo.max_v_samp_factor;
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

bool ReadWhole(const std::wstring& path, std::vector<unsigned char>& bytes, std::string& error) {
    const char* kind = nullptr;
    FILE* f = devfs::OpenRegularFile(path, &kind);
    if (!f) {
        error = kind ? std::string(kind) + ", not a photograph" : std::string("cannot open it: ") + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(::fileno(f), &st) == 0 && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
    unsigned char chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    const bool ok = !std::ferror(f);
    if (!ok) error = std::string("cannot read it: ") + std::strerror(errno);
    std::fclose(f);
    return ok;
}

}  // namespace

int ExportLossless(const std::wstring& sourcePath, const std::wstring& destinationPath, const CRect& crop,
                   const ExportExtras& extras, LosslessCut& cut, std::string& error) {
    cut = LosslessCut();
    std::vector<unsigned char> source;
    if (!ReadWhole(sourcePath, source, error)) return 0;
    Layout layout;
    const bool readable = ReadLayout(layout, source);
    if (layout.created) jpeg_destroy_decompress(&layout.dinfo);
    if (!readable) {
        error = "not a JPEG file that can be cut losslessly";
        return 0;
    }
    if (crop.left < 0 || crop.top < 0 || crop.right > layout.width || crop.bottom > layout.height ||
        crop.left >= crop.right || crop.top >= crop.bottom) {
        error = "the frame lies outside the photograph";
        return 0;
    }

    const int x = crop.left - crop.left % layout.mcuWidth;
    const int y = crop.top - crop.top % layout.mcuHeight;
    // Moving left and top down keeps the frame inside; the clip only guards
    // a frame that was not.
    const int w = std::min(crop.Width(), layout.width - x);
    const int h = std::min(crop.Height(), layout.height - y);
    cut.written = CRect(x, y, x + w, y + h);
    cut.shiftX = crop.left - x;
    cut.shiftY = crop.top - y;
    cut.clipped = w != crop.Width() || h != crop.Height();
    // The transform holds every coefficient of the source, and for a frame
    // off the origin a second set for the frame's blocks.
    unsigned long long workspace = 0;
    if (x != 0 || y != 0) {
        const unsigned long long across = (w + layout.mcuWidth - 1) / layout.mcuWidth;
        const unsigned long long down = (h + layout.mcuHeight - 1) / layout.mcuHeight;
        for (size_t c = 0; c < layout.h.size(); ++c)
            workspace += across * layout.h[c] * down * layout.v[c] * sizeof(JBLOCK);
    }
    const unsigned long long coefficients = layout.sourceCoefficients + workspace;
    cut.coefficientBytes = static_cast<unsigned long>(coefficients);
    if (coefficients > static_cast<unsigned long long>(MAX_DECODER_MEMORY)) {
        error = "too large to cut losslessly";
        return 0;
    }

    tjhandle transformer = tjInitTransform();
    if (!transformer) {
        error = "out of memory";
        return 0;
    }
    tjtransform t;
    std::memset(&t, 0, sizeof t);
    t.r.x = x;
    t.r.y = y;
    t.r.w = w;
    t.r.h = h;
    t.op = TJXOP_NONE;
    t.options = TJXOPT_CROP | TJXOPT_COPYNONE;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    const int status = tjTransform(transformer, source.data(), static_cast<unsigned long>(source.size()), 1, &out,
                                   &outSize, &t, extras.strict ? TJFLAG_STOPONWARNING : 0);
    if ((status != 0 && (extras.strict || tjGetErrorCode(transformer) == TJERR_FATAL)) || !out || outSize == 0) {
        error = std::string("cannot cut it losslessly: ") + tjGetErrorStr2(transformer);
        tjFree(out);
        tjDestroy(transformer);
        return 0;
    }
    if (status != 0 && extras.warnings)
        extras.warnings->push_back(std::string("damaged data copied as it is: ") + tjGetErrorStr2(transformer));
    tjDestroy(transformer);
    source = std::vector<unsigned char>();

    std::vector<unsigned char> edited;
    const unsigned char* bytes = out;
    size_t size = outSize;
    SourceMetadata metadata;
    if (extras.keepProfile || extras.keepMetadata) {
        std::vector<std::string> dropped;
        if (!ReadSourceMetadata(sourcePath, extras.keepProfile, extras.keepMetadata, static_cast<uint32_t>(w),
                                static_cast<uint32_t>(h), metadata, dropped)) {
            error = "cannot read the file";
            tjFree(out);
            return 0;
        }
        if (extras.warnings) extras.warnings->insert(extras.warnings->end(), dropped.begin(), dropped.end());
    }
    // Nothing is decoded here, so nothing can be converted: a cut whose
    // profile is not sRGB keeps it, or it would be shown in wrong colours.
    if (layout.colour.Converts() && metadata.icc.empty()) metadata.icc = layout.colour.Profile();
    if (extras.recordDpi > 0 || !metadata.Empty()) {
        bool densitySet = false;
        edited = WithMetadata(out, outSize, metadata, extras.recordDpi, densitySet);
        if (extras.recordDpi > 0 && !densitySet && extras.warnings)
            extras.warnings->push_back("its cut has no JFIF header (a CMYK photograph); the resolution is not recorded");
        if (edited.empty()) {
            error = "cannot add the markers to the cut";
            tjFree(out);
            return 0;
        }
        bytes = edited.data();
        size = edited.size();
    }

    TempFile file;
    const std::string target = devfs::ToHostPath(destinationPath);
    bool ok = file.Create(target);
    if (ok && std::fwrite(bytes, 1, size, file.Stream()) != size) {
        file.SetError(errno);
        ok = false;
    }
    tjFree(out);
    if (ok) ok = file.Commit();
    if (!ok) {
        error = "Cannot create file " + target + ": " + std::strerror(file.Error() ? file.Error() : EIO);
        return 0;
    }
    return 1;
}
