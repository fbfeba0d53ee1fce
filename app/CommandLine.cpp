#include "app/CommandLine.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QStringList>

#ifndef TRIMORA_VERSION
#error "TRIMORA_VERSION comes from the project's version in CMake"
#endif

namespace {

struct QtOption {
    const char* name;
    const char* valueName;  // null: a switch
    const char* help;       // null: accepted and passed on, not listed
};

// QApplication takes these out of argv itself; they are listed here so that
// they are not refused, and the ones a user may need are shown in the help.
const QtOption QT_OPTIONS[] = {
    {"platform", "name", "Qt's window system: xcb (X11), wayland, offscreen..."},
    {"display", "display", "The X server to use (default: $DISPLAY)."},
    {"style", "style", "The widget style, e.g. Fusion."},
    {"platformtheme", "theme", nullptr},
    {"platformpluginpath", "path", nullptr},
    {"plugin", "plugin", nullptr},
    {"qwindowgeometry", "geometry", nullptr},
    {"qwindowicon", "icon", nullptr},
    {"qwindowtitle", "title", nullptr},
    {"geometry", "geometry", nullptr},
    {"title", "title", nullptr},
    {"name", "name", nullptr},
    {"session", "session", nullptr},
    {"stylesheet", "file", nullptr},
    {"qmljsdebugger", "value", nullptr},
    {"visual", "visual", nullptr},
    {"ncols", "count", nullptr},
    {"reverse", nullptr, nullptr},
    {"widgetcount", nullptr, nullptr},
    {"sync", nullptr, nullptr},
    {"nograb", nullptr, nullptr},
    {"dograb", nullptr, nullptr},
    {"cmap", nullptr, nullptr},
};

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int ParseCommandLine(int argc, char** argv, StartOptions& options, FILE* out, FILE* err) {
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    // Qt's own options come with one dash (-platform offscreen).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        "Trimora frames a photograph in a print format and writes the framed part\n"
        "as a new JPEG. Qt's options may also be given with one dash (-platform xcb).");
    const QCommandLineOption help({"h", "help"}, "Show this help and end.");
    const QCommandLineOption version("version", "Show the version and end.");
    const QCommandLineOption root("root", "The folder shown as the device's storage (default: the root of the "
                                          "file system PHOTO is on, or / without PHOTO).",
                                  "DIR");
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(root);
    for (const QtOption& q : QT_OPTIONS) {
        QCommandLineOption o(QString::fromLatin1(q.name), q.help ? QString::fromUtf8(q.help) : QString(),
                             q.valueName ? QString::fromLatin1(q.valueName) : QString());
        if (!q.help) o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }
    parser.addPositionalArgument("PHOTO",
                                 "A photograph (JPEG, HEIC, AVIF) to open at start, or an order: an order file "
                                 "(.trimora) or a card's MISC/AUTPRINT.MRK.",
                                 "[PHOTO]");

    auto usageError = [&](const QString& what) {
        std::fprintf(err, "trimora: %s\nTry 'trimora --help'.\n", qPrintable(what));
        return 2;
    };
    if (!parser.parse(args)) return usageError(parser.errorText());
    if (parser.isSet(help)) {
        // Qt names the program after argv[0], or a placeholder before the
        // QApplication exists; the help names it as users call it.
        QString text = parser.helpText();
        const qsizetype name = text.indexOf(' '), options = text.indexOf(" [options]");
        if (name >= 0 && options > name) text.replace(name + 1, options - name - 1, "trimora");
        std::fputs(qPrintable(text), out);
        return 0;
    }
    if (parser.isSet(version)) {
        std::fputs("trimora " TRIMORA_VERSION "\n", out);
        return 0;
    }
    const QStringList photos = parser.positionalArguments();
    if (photos.size() > 1) return usageError("one photograph at a time");
    options.photo = photos.isEmpty() ? std::string() : photos.first().toLocal8Bit().toStdString();
    options.root = parser.isSet(root) ? parser.value(root).toLocal8Bit().toStdString() : std::string();
    if (parser.isSet(root) && !IsFolder(options.root)) {
        std::fprintf(err, "trimora: %s is not a folder\n", options.root.c_str());
        return 2;
    }
    return -1;
}

void QuietRuntimeDir() {
    if (const char* set = std::getenv("XDG_RUNTIME_DIR"); set && *set) return;
    const passwd* user = getpwuid(geteuid());
    if (!user) return;
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/runtime-" + user->pw_name;
    mkdir(dir.c_str(), 0700);
    struct stat st {};
    // Only a folder that is ours and private, as Qt itself insists.
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 0777) != 0700)
        return;
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
}
