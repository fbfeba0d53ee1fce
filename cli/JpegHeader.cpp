#include "cli/JpegHeader.h"

#include <csetjmp>
#include <cerrno>
#include <cstdio>
#include <cstring>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "imaging/JpegSource.h"
#include "imaging/Orientation.h"
#include "platform/DeviceFs.h"

namespace {
struct ErrorTrap {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void TrapExit(j_common_ptr cinfo) {
    auto* trap = reinterpret_cast<ErrorTrap*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, trap->message);
    std::longjmp(trap->jump, 1);
}

// Warnings about the header are the export's to report, once.
void Silent(j_common_ptr) {}

// Outside the function that holds the jump target: the tag's reading has
// objects of its own.
void SetUpright(JpegHeader& header, const OrientationTag& tag) {
    const CSize upright = tag.orientation.UprightSize(CSize(header.storedWidth, header.storedHeight));
    header.width = upright.cx;
    header.height = upright.cy;
    header.damagedOrientation = tag.damaged;
}
}  // namespace

bool ReadJpegHeader(const std::wstring& devicePath, JpegHeader& header, std::string& error) {
    const char* kind = nullptr;
    FILE* file = devfs::OpenRegularFile(devicePath, &kind);
    if (!file) {
        error = kind ? std::string("cannot read the photograph: it is ") + kind + ", not a file"
                     : std::string("cannot open the photograph: ") + std::strerror(errno);
        return false;
    }
    jpeg_decompress_struct cinfo;
    ErrorTrap trap;
    trap.message[0] = '\0';
    cinfo.err = jpeg_std_error(&trap.mgr);
    trap.mgr.error_exit = TrapExit;
    trap.mgr.output_message = Silent;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::fclose(file);
        error = std::string("cannot decode the photograph: ") + trap.message;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    SaveLookMarkers(cinfo);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_calc_output_dimensions(&cinfo);
    header.storedWidth = static_cast<int>(cinfo.output_width);
    header.storedHeight = static_cast<int>(cinfo.output_height);
    SetUpright(header, ReadOrientationTag(cinfo));
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return true;
}
