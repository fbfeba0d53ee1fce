#include "cli/Args.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "print/PrintFormatTable.h"
#include "platform/Strings.h"
#include "tone/Presets.h"

namespace {

bool ParseInt(const std::string& text, long long lo, long long hi, long long& value) {
    if (text.empty() || text.size() > 20) return false;
    size_t i = 0;
    if (text[0] == '-' || text[0] == '+') i = 1;
    if (i == text.size()) return false;
    for (size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno == ERANGE || *end != '\0' || v < lo || v > hi) return false;
    value = v;
    return true;
}

bool AllDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

bool ParseFormat(const std::string& text, int& format) {
    long long v = 0;
    if (AllDigits(text)) {
        if (!ParseInt(text, 0, PRINT_FORMAT_COUNT - 1, v)) return false;
        format = static_cast<int>(v);
        return true;
    }
    std::wstring wide;
    if (!FromUtf8(text, wide)) return false;
    const int found = FindPrintFormat(wide);
    if (found < 0) return false;
    format = found;
    return true;
}

bool ParsePreset(const std::string& text, int& preset) {
    long long v = 0;
    if (AllDigits(text)) {
        if (!ParseInt(text, 0, TONE_PRESET_COUNT - 1, v)) return false;
        preset = static_cast<int>(v);
        return true;
    }
    const TonePreset* found = FindPresetByName(std::string_view(text));
    if (!found) return false;
    preset = PresetListIndex(found);
    return true;
}

bool ParseFrame(const std::string& text, FrameMode& mode, CRect& frame) {
    if (text == "fit") {
        mode = FrameMode::Fit;
        return true;
    }
    if (text == "center" || text == "centre") {
        mode = FrameMode::Center;
        return true;
    }
    long long v[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t comma = text.find(',', start);
        if ((i < 3) != (comma != std::string::npos)) return false;
        const std::string part = text.substr(start, i < 3 ? comma - start : std::string::npos);
        if (!ParseInt(part, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), v[i]))
            return false;
        start = comma + 1;
    }
    mode = FrameMode::Given;
    frame = CRect(static_cast<int32_t>(v[0]), static_cast<int32_t>(v[1]), static_cast<int32_t>(v[2]),
                  static_cast<int32_t>(v[3]));
    return true;
}

bool ParseBox(const std::string& text, CSize& box) {
    const size_t x = text.find_first_of("xX");
    long long w = 0, h = 0;
    // The preview never exceeds what the handheld's screen could show.
    if (x == std::string::npos || !ParseInt(text.substr(0, x), 1, 800, w) ||
        !ParseInt(text.substr(x + 1), 1, 600, h))
        return false;
    box = CSize(static_cast<int32_t>(w), static_cast<int32_t>(h));
    return true;
}

CliCommand CommandByName(const std::string& name) {
    if (name == "formats") return CliCommand::Formats;
    if (name == "export") return CliCommand::Export;
    if (name == "preview") return CliCommand::Preview;
    if (name == "curve") return CliCommand::Curve;
    return CliCommand::None;
}

// Which options each command takes; anything else is a usage error rather
// than silently ignored.
bool Accepts(CliCommand command, const std::string& option) {
    if (command == CliCommand::Export && (option == "--min-dpi" || option == "--json")) return true;
    switch (command) {
    case CliCommand::Export:
        return option == "--to" || option == "--format" || option == "--portrait" ||
               option == "--no-lab-correction" || option == "--preset" || option == "--frame" ||
               option == "--quality" || option == "--jobs" || option == "--strict" || option == "--lossless" ||
               option == "--record-dpi" || option == "--keep-profile" || option == "--keep-metadata";
    case CliCommand::Preview:
        return option == "--box" || option == "--out" || option == "--strict";
    case CliCommand::Curve:
        return option == "--preset";
    default:
        return false;
    }
}

bool TakesValue(const std::string& option) {
    if (option == "--json") return false;
    return option != "--portrait" && option != "--no-lab-correction" && option != "--strict" &&
           option != "--lossless" && option != "--record-dpi" && option != "--keep-profile" &&
           option != "--keep-metadata";
}

}  // namespace

bool ParseArgs(const std::vector<std::string>& args, CliOptions& o, std::string& error) {
    o = CliOptions();
    if (args.empty()) {
        error = "no command given";
        return false;
    }
    size_t i = 0;
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        o.help = true;
        if (args.size() > 1) o.command = CommandByName(args[1]);
        return true;
    }
    if (args[0] == "--version") {
        o.version = args.size() == 1;
        if (!o.version) error = "--version takes nothing more";
        return o.version;
    }
    o.command = CommandByName(args[0]);
    if (o.command == CliCommand::None) {
        error = "unknown command '" + args[0] + "'";
        return false;
    }
    ++i;

    bool sawTo = false, sawBox = false, sawOut = false, sawPreset = false, onlyOperands = false;
    for (; i < args.size(); ++i) {
        std::string arg = args[i];
        if (onlyOperands || arg.size() < 2 || arg[0] != '-' || arg == "-") {
            o.photos.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyOperands = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            return true;
        }
        std::string value;
        bool inlineValue = false;
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        if (!Accepts(o.command, arg)) {
            error = "unknown option '" + arg + "' for " + args[0];
            return false;
        }
        if (TakesValue(arg)) {
            if (!inlineValue) {
                if (i + 1 >= args.size()) {
                    error = "option " + arg + " needs a value";
                    return false;
                }
                value = args[++i];
            }
        } else if (inlineValue) {
            error = "option " + arg + " takes no value";
            return false;
        }

        long long n = 0;
        if (arg == "--to") {
            if (value.empty()) {
                error = "--to needs a folder";
                return false;
            }
            o.toDir = value;
            sawTo = true;
        } else if (arg == "--format") {
            if (!ParseFormat(value, o.format)) {
                error = "no print format '" + value + "' (see 'trimora-cli formats')";
                return false;
            }
        } else if (arg == "--portrait") {
            o.portrait = true;
        } else if (arg == "--no-lab-correction") {
            o.correctLab = false;
        } else if (arg == "--preset") {
            if (!ParsePreset(value, o.preset)) {
                error = "no tone preset '" + value + "'";
                return false;
            }
            sawPreset = true;
        } else if (arg == "--frame") {
            if (!ParseFrame(value, o.frameMode, o.frame)) {
                error = "--frame takes fit, center or L,T,R,B in source pixels, not '" + value + "'";
                return false;
            }
        } else if (arg == "--quality") {
            if (!ParseInt(value, 0, 100, n)) {
                error = "--quality takes 0 to 100, not '" + value + "'";
                return false;
            }
            o.quality = static_cast<int>(n);
        } else if (arg == "--jobs") {
            if (!ParseInt(value, 1, 256, n)) {
                error = "--jobs takes 1 to 256, not '" + value + "'";
                return false;
            }
            o.jobs = static_cast<int>(n);
        } else if (arg == "--strict") {
            o.strict = true;
        } else if (arg == "--lossless") {
            o.lossless = true;
        } else if (arg == "--record-dpi") {
            o.recordDpi = true;
        } else if (arg == "--keep-profile") {
            o.keepProfile = true;
        } else if (arg == "--keep-metadata") {
            o.keepMetadata = true;
        } else if (arg == "--box") {
            if (!ParseBox(value, o.box)) {
                error = "--box takes WxH with W 1 to 800 and H 1 to 600, not '" + value + "'";
                return false;
            }
            sawBox = true;
        } else if (arg == "--out") {
            if (value.empty()) {
                error = "--out needs a file name";
                return false;
            }
            o.out = value;
            sawOut = true;
        } else if (arg == "--min-dpi") {
            if (!ParseInt(value, 0, 100000, n)) {
                error = "--min-dpi takes 0 to 100000, not '" + value + "'";
                return false;
            }
            o.minDpi = static_cast<int>(n);
        } else if (arg == "--json") {
            o.json = true;
        }
    }

    switch (o.command) {
    case CliCommand::Formats:
        if (!o.photos.empty()) {
            error = "formats takes no arguments";
            return false;
        }
        break;
    case CliCommand::Export:
        if (o.photos.empty()) {
            error = "export needs at least one photograph";
            return false;
        }
        if (!sawTo) {
            error = "export needs --to DIR";
            return false;
        }
        if (o.lossless && sawPreset) {
            error = "--lossless cannot apply a tone preset: it does not decode the photograph";
            return false;
        }
        break;
    case CliCommand::Preview: {
        if (o.photos.size() != 1) {
            error = "preview takes exactly one photograph";
            return false;
        }
        if (!sawBox || !sawOut) {
            error = "preview needs --box WxH and --out FILE";
            return false;
        }
        const size_t dot = o.out.rfind('.');
        const std::string ext = dot == std::string::npos ? "" : o.out.substr(dot);
        if (ext != ".ppm" && ext != ".bmp") {
            error = "--out must name a .ppm or a .bmp file";
            return false;
        }
        break;
    }
    case CliCommand::Curve:
        if (!o.photos.empty()) {
            error = "curve takes no photographs";
            return false;
        }
        if (!sawPreset) {
            error = "curve needs --preset NAME|INDEX";
            return false;
        }
        break;
    case CliCommand::None:
        break;
    }
    return true;
}

std::string VersionText() { return "trimora-cli " TRIMORA_VERSION "\n"; }

std::string HelpText(CliCommand command) {
    switch (command) {
    case CliCommand::Formats:
        return "Usage: trimora-cli formats\n"
               "\n"
               "Lists the print formats, one per line, fields separated by tabs:\n"
               "index, name, width x height in cm (landscape) with the lab correction,\n"
               "the same without it, and the suffix added to exported file names.\n";
    case CliCommand::Export:
        return "Usage: trimora-cli export PHOTO... --to DIR [options]\n"
               "\n"
               "Exports the framed part of each photograph at full resolution into DIR,\n"
               "named after the photograph with the format's suffix before its first dot\n"
               "(img_0001.jpg becomes img_0001_10x15.jpg; a phone's img_0001.heic is\n"
               "written as img_0001_10x15.jpg). A folder given as PHOTO stands for the\n"
               ".jpg, .jpeg, .heic, .heif, .hif and .avif files directly inside it. A\n"
               "file of that name in DIR is replaced; a photograph is never overwritten.\n"
               "\n"
               "Options:\n"
               "  --format NAME|INDEX  print format (default \"10x15 cm\"); a name, a suffix\n"
               "                       such as 10x15 or A4, or an index (see 'formats')\n"
               "  --portrait           frame taller than wide\n"
               "  --no-lab-correction  nominal sides, without the lab's correction\n"
               "  --preset NAME|INDEX  tone curve, e.g. Bright or 6 (see 'curve --help')\n"
               "  --frame center       the largest frame, centred (default)\n"
               "  --frame fit          the same frame at the top-left corner, where the\n"
               "                       program places it\n"
               "  --frame L,T,R,B      a frame in source pixels, right and bottom exclusive,\n"
               "                       of the photograph upright (turned as its EXIF\n"
               "                       orientation says); its proportions are then made\n"
               "                       exact as on export\n"
               "  --quality N          JPEG quality 0-100 (default 95)\n"
               "  --jobs N             photographs exported at once (default: the cores)\n"
               "  --strict             refuse damaged photographs instead of exporting\n"
               "                       them with their missing parts grey\n"
               "  --lossless           cut the frame from the photograph's compressed data\n"
               "                       without encoding it again (no loss of quality); its\n"
               "                       left and top move left and up by at most 15 pixels\n"
               "                       to the photograph's block grid; not with --preset\n"
               "  --record-dpi         record the print resolution (dots per inch) in the\n"
               "                       file, so print dialogs and lab software see the size\n"
               "  --keep-profile       carry the photograph's ICC colour profile over\n"
               "  --keep-metadata      carry EXIF, XMP and the ICC profile over; EXIF gets\n"
               "                       the new pixel size and loses its thumbnail\n"
               "  --min-dpi N          warn when a print gets less than N dots per inch\n"
               "                       (default 150, where labs refuse or warn; 0: never)\n"
               "  --json               one JSON object per photograph instead of the line\n"
               "\n"
               "Prints one line per written file, fields separated by tabs: the output\n"
               "path, its size in pixels, the print size in cm, and the resolution that\n"
               "gives in dots per inch. Photographs smaller than 800x600 are refused.\n"
               "A damaged photograph is exported with a warning. Errors and warnings go\n"
               "to the error stream, each naming its photograph.\n"
               "\n"
               "With --json, stdout gets one JSON object per line for every photograph,\n"
               "in the order given, written or not: \"source\", \"ok\", then \"output\",\n"
               "\"width_px\", \"height_px\", \"width_cm\", \"height_cm\", \"dpi\" and\n"
               "\"lossless\" (null, or the shift {\"left\", \"up\", \"clipped\"}) when it was\n"
               "written, or \"error\" when not; \"warnings\" lists texts. A name that is\n"
               "no UTF-8 shows U+FFFD for each stray byte and comes with \"source_hex\" or\n"
               "\"output_hex\" holding its exact bytes. A folder given as PHOTO that\n"
               "yields nothing gets an error object first. Messages still go to the\n"
               "error stream.\n"
               "\n"
               "Exit status: 0 when every file was written, 1 when any failed, 2 for a\n"
               "usage error.\n";
    case CliCommand::Preview:
        return "Usage: trimora-cli preview PHOTO --box WxH --out FILE.ppm|FILE.bmp [--strict]\n"
               "\n"
               "Decodes PHOTO into the preview the program shows in a box of at most\n"
               "WxH pixels (W up to 800, H up to 600) and writes it as a binary PPM or a\n"
               "24-bit BMP. Prints the preview size and the photograph's size.\n"
               "A damaged photograph gives a warning; with --strict it is refused.\n";
    case CliCommand::Curve: {
        std::string text =
            "Usage: trimora-cli curve --preset NAME|INDEX\n"
            "\n"
            "Prints the 256 entries of the preset's tone table, one per line.\n"
            "Presets by index (names ignore case):\n";
        for (int i = 0; i < TONE_PRESET_COUNT; ++i) {
            const TonePreset* preset = FindPresetByIndex(i);
            if (preset) text += "  " + std::to_string(i) + "  " + ToUtf8(preset->text) + "\n";
        }
        return text;
    }
    case CliCommand::None:
        break;
    }
    return "Usage: trimora-cli COMMAND [arguments]\n"
           "\n"
           "Prepares photographs for a photo lab: frames them in a print format's\n"
           "proportions and exports the framed part at full resolution.\n"
           "\n"
           "Commands:\n"
           "  formats   list the print formats\n"
           "  export    export photographs in a print format\n"
           "  preview   write the preview the program shows of a photograph\n"
           "  curve     print a tone preset's table\n"
           "\n"
           "'trimora-cli COMMAND --help' tells more about each;\n"
           "'trimora-cli --version' prints the version.\n";
}
