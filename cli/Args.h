#pragma once
// The command line of trimora-cli: one command, then its photographs and
// options in any order. Parsing never touches a file.
#include <string>
#include <vector>

#include "print/ExportPlan.h"
#include "print/PrintFormatTable.h"
#include "platform/WinTypes.h"
#include "tone/Presets.h"

enum class CliCommand { None, Formats, Export, Preview, Curve, Order };
enum class FrameMode { Fit, Center, Given };

struct CliOptions {
    CliCommand command = CliCommand::None;
    bool help = false;
    bool version = false;

    std::vector<std::string> photos;
    std::string toDir;
    std::string cardDir;        // order: the card's root folder
    bool replaceMarks = false;  // order: the card's print marks may be replaced
    int format = DEFAULT_PRINT_FORMAT;  // "10x15 cm", as the program starts
    bool portrait = false;      // every frame taller than wide
    bool autoPortrait = false;  // each frame in its photograph's own orientation
    bool correctLab = true;
    int preset = PRESET_INDEX_NONE;  // a list index of the presets, or none
    // Centred: a batch cannot drag each frame, and the middle is what one
    // expects. The program itself fits at the top-left corner.
    FrameMode frameMode = FrameMode::Center;
    CRect frame;  // source pixels, for FrameMode::Given
    int quality = 95;
    int jobs = 0;  // 0: one per core
    int minDpi = LOW_PRINT_DPI;  // warn below this; labs refuse or warn at about that
    bool json = false;  // a JSON object per photograph instead of the tab line
    bool strict = false;  // refuse damaged photographs
    bool lossless = false;      // cut from the DCT coefficients, frame on the iMCU grid
    bool recordDpi = false;     // JFIF density: the dpi the result line reports
    bool keepProfile = false;   // the source's ICC profile
    bool keepMetadata = false;  // EXIF, XMP and the ICC profile

    CSize box;
    std::string out;
};

// False on a usage error, with error saying what is wrong.
bool ParseArgs(const std::vector<std::string>& args, CliOptions& options, std::string& error);

// The commands' names, in the order the help lists them.
std::vector<std::string> CommandNames();

// An option as the parser knows it, for what must agree with it (the bash
// completion, the man page, the README).
struct CliOptionInfo {
    std::string name;   // "--format"
    std::string value;  // what its value stands for, "" for a switch
    std::string words;  // the words its value or switch may be, space-separated
};
std::vector<CliOptionInfo> CommandOptions(CliCommand command);

// "trimora-cli VERSION", one line.
std::string VersionText();

// The help text of a command, or the overview for CliCommand::None.
std::string HelpText(CliCommand command);
