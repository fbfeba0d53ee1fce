#include "cli/Args.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <map>

#include "print/PrintFormatTable.h"
#include "platform/Strings.h"
#include "tone/Presets.h"

namespace {

constexpr const char* kProgram = "trimora-cli";

// ------------------------------------------------------------ the values

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
    if (text == "whole") {
        mode = FrameMode::Whole;
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

// A whole number in [lo, hi] into *field, or the option's own complaint.
bool SetNumber(const std::string& value, long long lo, long long hi, int& field, const std::string& option,
               std::string& error) {
    long long n = 0;
    if (!ParseInt(value, lo, hi, n)) {
        error = option + " takes " + std::to_string(lo) + " to " + std::to_string(hi) + ", not '" + value + "'";
        return false;
    }
    field = static_cast<int>(n);
    return true;
}

// ------------------------------------------------------------ the table

constexpr unsigned kFormats = 1u << static_cast<int>(CliCommand::Formats);
constexpr unsigned kExport = 1u << static_cast<int>(CliCommand::Export);
constexpr unsigned kPreview = 1u << static_cast<int>(CliCommand::Preview);
constexpr unsigned kCurve = 1u << static_cast<int>(CliCommand::Curve);
constexpr unsigned kOrder = 1u << static_cast<int>(CliCommand::Order);
constexpr unsigned kEvery = kFormats | kExport | kPreview | kCurve | kOrder;
// What an order does not fix for its photographs: how they are written. A
// card's marks carry no format, so --format and the orientation frame those.
constexpr unsigned kWriting = kExport | kOrder;

unsigned Bit(CliCommand command) { return 1u << static_cast<int>(command); }

// One line of a command's option list: what is typed, and what it does
// (lines after the first are its continuation).
struct HelpRow {
    const char* usage;
    const char* text;
};

// Takes the option's value (for a switch: "" or one of its words) into the
// options, or says what is wrong with it.
using ApplyValue = bool (*)(const std::string& value, CliOptions& o, std::string& error);

// Everything about one option, in one place: the parser, the help and the
// bash completion are made from this, and a test holds the completion file,
// the man page and the README to it.
struct OptionEntry {
    const char* name;
    const char* value;       // what its value stands for; null for a switch
    const char* words;       // a switch's optional word ("auto"), or a value's fixed words
    unsigned commands;       // the commands that take it
    std::vector<HelpRow> help;  // none: described in the command's own text
    ApplyValue apply;
};

const std::vector<OptionEntry>& Options() {
    static const std::vector<OptionEntry> table = {
        {"--help", nullptr, nullptr, kEvery, {},
         [](const std::string&, CliOptions& o, std::string&) { return o.help = true; }},
        {"--to", "DIR", nullptr, kWriting, {},
         [](const std::string& v, CliOptions& o, std::string& error) {
             if (v.empty()) error = "--to needs a folder";
             o.toDir = v;
             return !v.empty();
         }},
        {"--format", "NAME|INDEX", nullptr, kWriting,
         {{"--format NAME|INDEX", "print format (default \"10x15 cm\"); a name, a suffix\n"
                                  "such as 10x15 or A4, or an index (see 'formats')"}},
         [](const std::string& v, CliOptions& o, std::string& error) {
             if (!ParseFormat(v, o.format)) error = "no print format '" + v + "' (see 'trimora-cli formats')";
             return error.empty();
         }},
        {"--portrait", nullptr, "auto", kWriting,
         {{"--portrait", "frame taller than wide"},
          {"--portrait auto", "frame each photograph as it stands: taller than wide\n"
                              "when it is taller than wide upright, else wider"}},
         [](const std::string& v, CliOptions& o, std::string&) {
             o.autoPortrait = v == "auto";
             o.portrait = !o.autoPortrait;
             return true;
         }},
        {"--no-lab-correction", nullptr, nullptr, kWriting,
         {{"--no-lab-correction", "nominal sides, without the lab's correction"}},
         [](const std::string&, CliOptions& o, std::string&) { return !(o.correctLab = false); }},
        {"--preset", "NAME|INDEX", nullptr, kExport | kCurve,
         {{"--preset NAME|INDEX", "tone curve, e.g. Bright or 6 (see 'curve --help')"}},
         [](const std::string& v, CliOptions& o, std::string& error) {
             if (!ParsePreset(v, o.preset)) error = "no tone preset '" + v + "'";
             return error.empty();
         }},
        {"--frame", "fit|center|whole|L,T,R,B", "center fit whole", kExport,
         {{"--frame center", "the largest frame, centred (default)"},
          {"--frame fit", "the same frame at the top-left corner, where the\nprogram places it"},
          {"--frame L,T,R,B", "a frame in source pixels, right and bottom exclusive,\n"
                              "of the photograph upright (turned as its EXIF\n"
                              "orientation says); its proportions are then made\n"
                              "exact as on export"},
          {"--frame whole", "the whole photograph, not cut and not scaled, in the\n"
                            "middle of a white print of the format's proportions;\n"
                            "not with --lossless"}},
         [](const std::string& v, CliOptions& o, std::string& error) {
             if (!ParseFrame(v, o.frameMode, o.frame))
                 error = "--frame takes fit, center, whole or L,T,R,B in source pixels, not '" + v + "'";
             return error.empty();
         }},
        {"--quality", "N", nullptr, kWriting, {{"--quality N", "JPEG quality 0-100 (default 95)"}},
         [](const std::string& v, CliOptions& o, std::string& error) {
             return SetNumber(v, 0, 100, o.quality, "--quality", error);
         }},
        {"--jobs", "N", nullptr, kWriting, {{"--jobs N", "photographs exported at once (default: the cores)"}},
         [](const std::string& v, CliOptions& o, std::string& error) {
             return SetNumber(v, 1, 256, o.jobs, "--jobs", error);
         }},
        {"--strict", nullptr, nullptr, kWriting | kPreview,
         {{"--strict", "refuse damaged photographs instead of exporting\nthem with their missing parts grey"}},
         [](const std::string&, CliOptions& o, std::string&) { return o.strict = true; }},
        {"--lossless", nullptr, nullptr, kExport,
         {{"--lossless", "cut the frame from the photograph's compressed data\n"
                         "without encoding it again (no loss of quality); its\n"
                         "left and top move left and up by at most 15 pixels\n"
                         "to the photograph's block grid (right or down past\n"
                         "partial blocks a turn cannot move); not with --preset"}},
         [](const std::string&, CliOptions& o, std::string&) { return o.lossless = true; }},
        {"--record-dpi", nullptr, nullptr, kWriting,
         {{"--record-dpi", "record the print resolution (dots per inch) in the\n"
                           "file, so print dialogs and lab software see the size"}},
         [](const std::string&, CliOptions& o, std::string&) { return o.recordDpi = true; }},
        {"--keep-profile", nullptr, nullptr, kWriting,
         {{"--keep-profile", "carry the photograph's ICC colour profile over, its\n"
                             "pixels unconverted; a damaged one is left out"}},
         [](const std::string&, CliOptions& o, std::string&) { return o.keepProfile = true; }},
        {"--keep-metadata", nullptr, nullptr, kWriting,
         {{"--keep-metadata", "carry EXIF, XMP and the ICC profile over; EXIF gets\n"
                              "the new pixel size and loses its thumbnail. Without\n"
                              "--keep-profile a profile other than sRGB (Adobe\n"
                              "RGB, Display P3) is left out, with a warning: the\n"
                              "pixels are converted to sRGB"}},
         [](const std::string&, CliOptions& o, std::string&) { return o.keepMetadata = true; }},
        {"--min-dpi", "N", nullptr, kWriting,
         {{"--min-dpi N", "warn when a print gets less than N dots per inch\n"
                          "(default 150, where labs refuse or warn; 0: never)"}},
         [](const std::string& v, CliOptions& o, std::string& error) {
             return SetNumber(v, 0, 100000, o.minDpi, "--min-dpi", error);
         }},
        {"--json", nullptr, nullptr, kWriting,
         {{"--json", "one JSON object per photograph instead of the line"}},
         [](const std::string&, CliOptions& o, std::string&) { return o.json = true; }},
        {"--card", "DIR", nullptr, kOrder, {},
         [](const std::string& v, CliOptions& o, std::string& error) {
             if (v.empty()) error = "--card needs the card's folder";
             o.cardDir = v;
             return !v.empty();
         }},
        {"--replace-marks", nullptr, nullptr, kOrder,
         {{"--replace-marks", "replace the print marks already on the card"}},
         [](const std::string&, CliOptions& o, std::string&) { return o.replaceMarks = true; }},
        {"--box", "WxH", nullptr, kPreview, {},
         [](const std::string& v, CliOptions& o, std::string& error) {
             if (!ParseBox(v, o.box)) error = "--box takes WxH with W 1 to 800 and H 1 to 600, not '" + v + "'";
             return error.empty();
         }},
        {"--out", "FILE", nullptr, kPreview, {},
         [](const std::string& v, CliOptions& o, std::string& error) {
             if (v.empty()) error = "--out needs a file name";
             o.out = v;
             return !v.empty();
         }},
    };
    return table;
}

const OptionEntry* FindOption(CliCommand command, const std::string& name) {
    for (const OptionEntry& entry : Options())
        if ((entry.commands & Bit(command)) && name == entry.name) return &entry;
    return nullptr;
}

struct CommandEntry {
    CliCommand command;
    const char* name;
    const char* summary;
};

const CommandEntry kCommands[] = {
    {CliCommand::Formats, "formats", "list the print formats"},
    {CliCommand::Export, "export", "export photographs in a print format"},
    {CliCommand::Preview, "preview", "write the preview the program shows of a photograph"},
    {CliCommand::Curve, "curve", "print a tone preset's table"},
    {CliCommand::Order, "order", "write the photographs of an order file or a card's print marks"},
};

CliCommand CommandByName(const std::string& name) {
    for (const CommandEntry& c : kCommands)
        if (name == c.name) return c.command;
    return CliCommand::None;
}

// ------------------------------------------------------------ the steps

// The words before a command: help, the version, or nothing at all.
enum class Leading { Command, Done, Failed };
Leading ReadProgramWords(const std::vector<std::string>& args, CliOptions& o, std::string& error) {
    if (args.empty()) {
        error = "no command given";
        return Leading::Failed;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        o.help = true;
        if (args.size() > 1) o.command = CommandByName(args[1]);
        return Leading::Done;
    }
    if (args[0] == "--version") {
        o.version = args.size() == 1;
        if (!o.version) error = "--version takes nothing more";
        return o.version ? Leading::Done : Leading::Failed;
    }
    o.command = CommandByName(args[0]);
    if (o.command == CliCommand::None) {
        error = "unknown command '" + args[0] + "'";
        return Leading::Failed;
    }
    return Leading::Command;
}

// What the parser leaves to this program: a word that begins with "-" is an
// option, and one the command does not know is a usage error, whatever
// CLI11 would make of it ("-5.jpg" or "---x" as a photograph); "--portrait
// auto" as two words; an empty value after "=" ("--to=" is a folder left
// out, not a request for the next word); a switch given any other value.
// The words after "--", all operands, are set apart in after.
// A wrong word ends the words at it, with error saying what is wrong: the
// values before it may still be wrong first.
void SpellWords(CliCommand command, const std::string& commandName, std::vector<std::string>& words,
                std::vector<std::string>& after, std::string& error) {
    std::vector<std::string> out;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--") {
            after.assign(words.begin() + static_cast<long>(i) + 1, words.end());
            break;
        }
        if (word == "-h" || word == "--help") {
            out.push_back(word);  // what follows is not looked at
            break;
        }
        if (word.size() < 2 || word[0] != '-') {
            out.push_back(word);
            continue;
        }
        const size_t eq = word.compare(0, 2, "--") == 0 ? word.find('=') : std::string::npos;
        const std::string name = word.substr(0, eq);
        const OptionEntry* entry = FindOption(command, name);
        if (!entry) {
            error = "unknown option '" + name + "' for " + commandName;
            break;
        }
        const bool inlineValue = eq != std::string::npos;
        const std::string value = inlineValue ? word.substr(eq + 1) : "";
        if (entry->value) {
            if (!inlineValue && i + 1 == words.size()) {
                error = "option " + name + " needs a value";
                break;
            }
            out.push_back(name);
            out.push_back(inlineValue ? value : words[++i]);  // a value, whatever it looks like
            continue;
        }
        if (inlineValue && entry->name == std::string("--help")) {
            error = "unknown option '--help' for " + commandName;
            break;
        }
        if (inlineValue && (!entry->words || value != entry->words)) {
            error = "option " + name + " takes no value";
            break;
        }
        const bool wordFollows = !inlineValue && entry->words && i + 1 < words.size() && words[i + 1] == entry->words;
        out.push_back(wordFollows ? name + "=" + words[++i] : word);
    }
    words = std::move(out);
}

// The command's words through CLI11: options by the table, values still
// as text, in the order given; every other word is an operand.
struct Parsed {
    std::vector<std::pair<const OptionEntry*, std::string>> values;
    std::vector<std::string> operands;
};

bool ReadWords(CliCommand command, const std::vector<std::string>& words, Parsed& parsed, std::string& error) {
    CLI::App app(kProgram);
    app.set_help_flag();  // a switch of the table like any other
    app.allow_extras();   // the operands, in order
    std::map<const CLI::Option*, const OptionEntry*> declared;
    for (const OptionEntry& entry : Options()) {
        if (!(entry.commands & Bit(command))) continue;
        const std::string names = entry.name == std::string("--help") ? "-h,--help" : entry.name;
        CLI::Option* option = entry.value ? app.add_option(names)->expected(1) : app.add_flag(names);
        declared[option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)] = &entry;
    }
    std::vector<std::string> reversed(words.rbegin(), words.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        error = e.what();  // not expected: the words were checked before
        return false;
    }
    std::map<const CLI::Option*, size_t> next;
    for (const CLI::Option* option : app.parse_order()) {
        const OptionEntry* entry = declared.at(option);
        const std::string& result = option->results().at(next[option]++);
        // A switch's result is "true", or the word it was given.
        parsed.values.emplace_back(entry, entry->value || result != "true" ? result : "");
    }
    parsed.operands = app.remaining();
    return true;
}

// Each value in the order given; the first that is wrong ends the parse.
bool ApplyValues(const Parsed& parsed, CliOptions& o, std::string& error) {
    for (const auto& [entry, value] : parsed.values) {
        if (!entry->apply(value, o, error)) return false;
        if (o.help) return true;
    }
    return true;
}

// What each command needs beyond its options' own values.
bool CheckCommand(CliOptions& o, std::string& error) {
    auto fail = [&error](const char* text) {
        error = text;
        return false;
    };
    switch (o.command) {
    case CliCommand::Formats:
        if (!o.photos.empty()) return fail("formats takes no arguments");
        break;
    case CliCommand::Export:
        if (o.photos.empty()) return fail("export needs at least one photograph");
        if (o.toDir.empty()) return fail("export needs --to DIR");
        if (o.lossless && o.preset >= 0)
            return fail("--lossless cannot apply a tone preset: it does not decode the photograph");
        if (o.lossless && o.frameMode == FrameMode::Whole)
            return fail("--lossless cannot put the whole photograph on white: it only cuts the photograph's own blocks");
        break;
    case CliCommand::Preview: {
        if (o.photos.size() != 1) return fail("preview takes exactly one photograph");
        if (o.box.cx == 0 || o.out.empty()) return fail("preview needs --box WxH and --out FILE");
        const size_t dot = o.out.rfind('.');
        const std::string ext = dot == std::string::npos ? "" : o.out.substr(dot);
        if (ext != ".ppm" && ext != ".bmp") return fail("--out must name a .ppm or a .bmp file");
        break;
    }
    case CliCommand::Order:
        if (o.photos.size() != 1) return fail("order takes exactly one order file");
        if (o.toDir.empty() == o.cardDir.empty()) return fail("order needs either --to DIR or --card CARD");
        if (o.replaceMarks && o.cardDir.empty()) return fail("--replace-marks goes with --card");
        break;
    case CliCommand::Curve:
        if (!o.photos.empty()) return fail("curve takes no photographs");
        if (o.preset < 0) return fail("curve needs --preset NAME|INDEX");
        break;
    case CliCommand::None:
        break;
    }
    return true;
}

// "  --usage            text", continuation lines under the text.
std::string OptionRows(CliCommand command) {
    constexpr size_t kColumn = 21;
    std::string rows;
    for (const OptionEntry& entry : Options()) {
        if (!(entry.commands & Bit(command))) continue;
        for (const HelpRow& row : entry.help) {
            std::string usage = row.usage;
            usage.resize(std::max(kColumn, usage.size() + 2), ' ');
            std::string text = row.text;
            for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
                text.insert(at + 1, kColumn + 2, ' ');
            rows += "  " + usage + text + "\n";
        }
    }
    return rows;
}

}  // namespace

bool ParseArgs(const std::vector<std::string>& args, CliOptions& o, std::string& error) {
    o = CliOptions();
    const Leading leading = ReadProgramWords(args, o, error);
    if (leading != Leading::Command) return leading == Leading::Done;

    std::vector<std::string> words(args.begin() + 1, args.end()), afterMark;
    Parsed parsed;
    std::string wrongWord;
    SpellWords(o.command, args[0], words, afterMark, wrongWord);
    if (!ReadWords(o.command, words, parsed, error)) return false;
    o.photos = parsed.operands;
    o.photos.insert(o.photos.end(), afterMark.begin(), afterMark.end());
    if (!ApplyValues(parsed, o, error)) return false;
    if (o.help) return true;
    error = wrongWord;
    return error.empty() && CheckCommand(o, error);
}

std::vector<std::string> CommandNames() {
    std::vector<std::string> names;
    for (const CommandEntry& c : kCommands) names.push_back(c.name);
    return names;
}

std::vector<CliOptionInfo> CommandOptions(CliCommand command) {
    std::vector<CliOptionInfo> infos;
    for (const OptionEntry& entry : Options())
        if (entry.commands & Bit(command))
            infos.push_back({entry.name, entry.value ? entry.value : "", entry.words ? entry.words : ""});
    return infos;
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
               ".jpg, .jpeg, .heic, .heif, .hif and .avif files directly inside it, less\n"
               "those this program wrote (a photograph's name with a format's suffix,\n"
               "beside that photograph). A file of that name in DIR is replaced; a\n"
               "photograph is never overwritten.\n"
               "\n"
               "Options:\n" +
               OptionRows(command) +
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
               "\"lossless\" (null, or the shift {\"left\", \"up\", \"clipped\"}, left and up\n"
               "negative where the cut moved right or down) when it was written, or\n"
               "\"error\" when not; \"warnings\" lists texts. A name that is\n"
               "no UTF-8 shows U+FFFD for each stray byte and comes with \"source_hex\" or\n"
               "\"output_hex\" holding its exact bytes. A folder given as PHOTO that\n"
               "yields nothing gets an error object first. Messages still go to the\n"
               "error stream.\n"
               "\n"
               "Exit status: 0 when every file was written, 1 when any failed, 2 for a\n"
               "usage error.\n";
    case CliCommand::Order:
        return "Usage: trimora-cli order ORDER --to DIR [options]\n"
               "       trimora-cli order ORDER --card CARD [--replace-marks] [options]\n"
               "\n"
               "Writes every photograph of an order file (saved by the program with\n"
               "Ctrl+S) with its own format, orientation, frame and tone curve, as the\n"
               "program's Ctrl+Shift+G writes them: into DIR under the names 'export'\n"
               "gives them, or onto the memory card whose root folder is CARD, into a\n"
               "new folder DCIM/nnnTRIMO as TRIMnnnn.JPG, with the print marks a\n"
               "lab's kiosk reads (MISC/AUTPRINT.MRK, DPOF 1.10) asking for each\n"
               "photograph's copies. A card that already has print marks is refused\n"
               "unless --replace-marks is given. An order of several formats onto a\n"
               "card gets a warning: a kiosk prints one size per order.\n"
               "\n"
               "ORDER may also be a card's MISC/AUTPRINT.MRK, as cameras write it: its\n"
               "photographs are framed in the middle in --format (and --portrait), each\n"
               "with the copies marked; index prints and other jobs are skipped, with a\n"
               "message.\n"
               "\n"
               "Options:\n" +
               OptionRows(command) +
               "\n"
               "Prints the line 'export' prints for each written file, with the copies\n"
               "after a tab (\"3 copies\"); with --json each object also gives\n"
               "\"copies\", last. A photograph that is missing or no longer the size it\n"
               "was framed at is named on the error stream and left out; the others are\n"
               "written. A damaged or unreadable order file is refused, and nothing is\n"
               "written.\n"
               "\n"
               "Exit status: 0 when every file was written, 1 when any failed or was\n"
               "left out, 2 for a usage error.\n";
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
    std::string text =
        "Usage: trimora-cli COMMAND [arguments]\n"
        "\n"
        "Prepares photographs for a photo lab: frames them in a print format's\n"
        "proportions and exports the framed part at full resolution.\n"
        "\n"
        "Commands:\n";
    for (const CommandEntry& c : kCommands) {
        std::string name = c.name;
        name.resize(10, ' ');
        text += "  " + name + c.summary + "\n";
    }
    return text +
           "\n"
           "'trimora-cli COMMAND --help' tells more about each;\n"
           "'trimora-cli --version' prints the version.\n";
}
