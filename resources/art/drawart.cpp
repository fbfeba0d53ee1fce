// Draws Trimora's pictures: the splash bitmap 134, the tool bitmaps 138-145
// and the program icon 128, and that icon again for the desktop's icon theme
// (16 to 256 pixels, and a scalable SVG of the same drawing).
//
// Run by hand (see make_art.sh); its outputs are committed under
// resources/bitmaps/ and desktop/icons/. Everything is drawn without antialiasing and written as
// 4-bit palette PNGs in the classic 16-colour palette, the way the handheld's
// 4 bpp bitmap resources look. Fonts are loaded from their files, never looked
// up by name, so the result does not depend on what fontconfig prefers.

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QStringList>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

// The 16 colours of a 4 bpp Windows bitmap, in their usual order.
const QRgb kVga[16] = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),     qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128),   qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),     qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255),   qRgb(0, 255, 255), qRgb(255, 255, 255),
};

const QRgb kBlack = kVga[0];
const QRgb kMaroon = kVga[1];
const QRgb kDarkGreen = kVga[2];
const QRgb kOlive = kVga[3];
const QRgb kNavy = kVga[4];
const QRgb kTeal = kVga[6];
const QRgb kGrey = kVga[7];
const QRgb kDarkGrey = kVga[8];
const QRgb kRed = kVga[9];
const QRgb kGreen = kVga[10];
const QRgb kYellow = kVga[11];
const QRgb kBlue = kVga[12];
const QRgb kCyan = kVga[14];
const QRgb kWhite = kVga[15];

// Letters used in the pixel maps below. ' ' is transparent (icons only).
QRgb legend(char c)
{
    switch (c) {
    case 'k': return kBlack;
    case 'm': return kMaroon;
    case 'g': return kDarkGreen;
    case 'o': return kOlive;
    case 'B': return kNavy;
    case 'p': return kVga[5];
    case 't': return kTeal;
    case '.': return kGrey;
    case 'd': return kDarkGrey;
    case 'r': return kRed;
    case 'G': return kGreen;
    case 'y': return kYellow;
    case 'b': return kBlue;
    case 'M': return kVga[13];
    case 'c': return kCyan;
    case 'w': return kWhite;
    case ' ': return qRgba(0, 0, 0, 0);
    }
    std::fprintf(stderr, "drawart: unknown pixel letter '%c'\n", c);
    std::exit(1);
}

QImage fromRows(const std::vector<std::string>& rows)
{
    const int h = static_cast<int>(rows.size());
    const int w = static_cast<int>(rows.front().size());
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        if (static_cast<int>(rows[y].size()) != w) {
            std::fprintf(stderr, "drawart: pixel map row %d is %zu wide, not %d\n", y,
                         rows[y].size(), w);
            std::exit(1);
        }
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, legend(rows[y][x]));
    }
    return img;
}

// Pixels of `fill` that touch (4-neighbourhood) anything that is not `fill`
// become `edge`: a one-pixel outline drawn inside the shape, so thin shapes
// keep their size.
void outlineInside(QImage& img, QRgb fill, QRgb edge, QRgb otherFill = 0, bool useOther = false)
{
    auto inShape = [&](const QImage& src, int x, int y) {
        if (x < 0 || y < 0 || x >= src.width() || y >= src.height())
            return false;
        const QRgb p = src.pixel(x, y);
        return p == fill || p == edge || (useOther && p == otherFill);
    };
    const QImage src = img.copy();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = src.pixel(x, y);
            if (p != fill && !(useOther && p == otherFill))
                continue;
            if (!inShape(src, x - 1, y) || !inShape(src, x + 1, y) || !inShape(src, x, y - 1) ||
                !inShape(src, x, y + 1))
                img.setPixel(x, y, edge);
        }
}

// ---------------------------------------------------------------- PNG output

void putBe32(std::string& s, uint32_t v)
{
    s += static_cast<char>(v >> 24);
    s += static_cast<char>(v >> 16);
    s += static_cast<char>(v >> 8);
    s += static_cast<char>(v);
}

void putChunk(std::string& out, const char* type, const std::string& data)
{
    putBe32(out, static_cast<uint32_t>(data.size()));
    std::string body(type, 4);
    body += data;
    out += body;
    putBe32(out, static_cast<uint32_t>(
                     crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

// Writes img as a palette PNG. With fullPalette the palette is the whole
// 16-colour set in its usual order (so pixel values are the bitmap's own 4-bit
// colour indices); otherwise only the colours used, transparent first.
void writePalettePng(const QImage& img, const QString& path, bool fullPalette)
{
    std::vector<QRgb> palette;
    bool hasTransparent = false;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) == 0)
                hasTransparent = true;
    if (fullPalette) {
        if (hasTransparent) {
            std::fprintf(stderr, "drawart: %s has transparent pixels\n", qPrintable(path));
            std::exit(1);
        }
        palette.assign(kVga, kVga + 16);
    } else {
        if (hasTransparent)
            palette.push_back(qRgba(0, 0, 0, 0));
        for (QRgb c : kVga) {
            bool used = false;
            for (int y = 0; y < img.height() && !used; ++y)
                for (int x = 0; x < img.width() && !used; ++x)
                    used = qAlpha(img.pixel(x, y)) != 0 && (img.pixel(x, y) | 0xff000000u) == c;
            if (used)
                palette.push_back(c);
        }
    }

    std::map<QRgb, int> index;
    for (size_t i = 0; i < palette.size(); ++i)
        index[palette[i]] = static_cast<int>(i);
    const int depth = palette.size() <= 16 ? 4 : 8;

    std::string raw;
    for (int y = 0; y < img.height(); ++y) {
        raw += '\0'; // filter type: none
        int acc = 0, bits = 0;
        for (int x = 0; x < img.width(); ++x) {
            QRgb p = img.pixel(x, y);
            p = qAlpha(p) == 0 ? qRgba(0, 0, 0, 0) : (p | 0xff000000u);
            const auto it = index.find(p);
            if (it == index.end()) {
                std::fprintf(stderr, "drawart: %s pixel %d,%d is #%06x, not a palette colour\n",
                             qPrintable(path), x, y, p & 0xffffff);
                std::exit(1);
            }
            acc = (acc << depth) | it->second;
            bits += depth;
            if (bits == 8) {
                raw += static_cast<char>(acc);
                acc = bits = 0;
            }
        }
        if (bits)
            raw += static_cast<char>(acc << (8 - bits));
    }

    uLongf packedSize = compressBound(raw.size());
    std::string packed(packedSize, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
              reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 9);
    packed.resize(packedSize);

    std::string out("\x89PNG\r\n\x1a\n", 8);
    std::string ihdr;
    putBe32(ihdr, img.width());
    putBe32(ihdr, img.height());
    ihdr += static_cast<char>(depth);
    ihdr += '\3'; // colour type: palette
    ihdr += std::string(3, '\0');
    putChunk(out, "IHDR", ihdr);
    std::string plte, trns;
    for (QRgb c : palette) {
        plte += static_cast<char>(qRed(c));
        plte += static_cast<char>(qGreen(c));
        plte += static_cast<char>(qBlue(c));
    }
    putChunk(out, "PLTE", plte);
    if (!fullPalette && hasTransparent)
        putChunk(out, "tRNS", std::string(1, '\0'));
    putChunk(out, "IDAT", packed);
    putChunk(out, "IEND", std::string());

    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) ||
        f.write(out.data(), static_cast<qint64>(out.size())) != static_cast<qint64>(out.size())) {
        std::fprintf(stderr, "drawart: cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

// ------------------------------------------------------------ tool bitmaps

QImage drawCross()
{
    // Two 2-pixel strokes, 12 x 11, centred on the 20 x 17 button face.
    QImage img(20, 17, QImage::Format_ARGB32);
    img.fill(kGrey);
    for (int i = 0; i < 11; ++i) {
        const int y = 3 + i;
        for (int x : {4 + i, 5 + i, 15 - i, 14 - i})
            img.setPixel(x, y, kBlack);
    }
    return img;
}

QImage drawOpenFolder()
{
    // An open yellow folder; the arrow arcs out of it, the way the usual
    // "open" toolbar button shows it.
    return fromRows({
        "....................",
        "...........kkkk.....",
        "..........k....k....",
        "..kkk....k....kkkkk.",
        ".kyyyk..k......kkk..",
        "kywyyykkkkkk....k...",
        "kyyyyyyyyyyk........",
        "kyyyykkkkkkkkkkkkkk.",
        "kyyykwwwwwwwwwwwwwk.",
        "kyyykyyyyyyyyyyyyk..",
        "kyykyyyyyyyyyyyyyk..",
        "kyykyyyyyyyyyyyyk...",
        "kykyyyyyyyyyyyyyk...",
        "kykyyyyyyyyyyyyk....",
        "kkyyyyyyyyyyyyyk....",
        "kkkkkkkkkkkkkkk.....",
        "....................",
    });
}

QImage drawTurn()
{
    // A thick arrow that goes up and turns right: the frame turns between
    // landscape and portrait.
    QImage img = fromRows({
        "....................",
        "....................",
        "............B.......",
        "............BB......",
        "............BBB.....",
        ".....BBBBBBBBBBB....",
        "....BBBBBBBBBBBBB...",
        "....BBBBBBBBBBBBBB..",
        "....BBBBBBBBBBBBB...",
        "....BBBBBBBBBBBB....",
        "....BBBB....BBB.....",
        "....BBBB....BB......",
        "....BBBB....B.......",
        "....BBBB............",
        "....BBBB............",
        "....BBBB............",
        "....................",
    });
    outlineInside(img, kNavy, kBlack);
    return img;
}

QImage drawSun()
{
    // Left half red, right half yellow, rays in the same halves; the darker
    // rim keeps the yellow half visible on the grey face.
    QImage img = fromRows({
        "....................",
        ".........ry.........",
        "...r.....ry......y..",
        "....r...........y...",
        "........rryy........",
        "......rrrryyyy......",
        "......rrrryyyy......",
        ".....rrrrryyyyy.....",
        "..rr.rrrrryyyyy.yy..",
        "..rr.rrrrryyyyy.yy..",
        ".....rrrrryyyyy.....",
        "......rrrryyyy......",
        "......rrrryyyy......",
        "........rryy........",
        "....r...........y...",
        "...r.....ry......y..",
        ".........ry.........",
    });
    // Only the disc gets a rim; the rays are too thin for one.
    QImage disc = img.copy();
    for (int y = 0; y < disc.height(); ++y)
        for (int x = 0; x < disc.width(); ++x)
            if (x < 5 || x > 14 || y < 4 || y > 13)
                disc.setPixel(x, y, kGrey);
    outlineInside(disc, kRed, kMaroon, kYellow, true);
    for (int y = 4; y <= 13; ++y)
        for (int x = 5; x <= 14; ++x)
            if (disc.pixel(x, y) == kMaroon && x >= 10)
                img.setPixel(x, y, kOlive);
            else
                img.setPixel(x, y, disc.pixel(x, y));
    return img;
}

QImage drawGo()
{
    // "GO!" in yellow on a navy panel with a black frame and a bevel.
    QImage img = fromRows({
        "...........................",
        ".kkkkkkkkkkkkkkkkkkkkkkkkk.",
        ".kwwwwwwwwwwwwwwwwwwwwwwwk.",
        ".kwBBBBBBBBBBBBBBBBBBBBBdk.",
        ".kwBBBBBBBBBBBBBBBBBBBBBdk.",
        ".kwBBBBBBBBBBBBBBBBBBBBBdk.",
        ".kwBBBBBBBBBBBBBBBBBBBBBdk.",
        ".kwBBBBBBBBBBBBBBBBBBBBBdk.",
        ".kwBBBBBBBBBBBBBBBBBBBBBdk.",
        ".kwBBBBBBBBBBBBBBBBBBBBBdk.",
        ".kwBBBBBBBBBBBBBBBBBBBBBdk.",
        ".kwBBBBBBBBBBBBBBBBBBBBBdk.",
        ".kwBBBBBBBBBBBBBBBBBBBBBdk.",
        ".kwBBBBBBBBBBBBBBBBBBBBBdk.",
        ".kwddddddddddddddddddddddk.",
        ".kkkkkkkkkkkkkkkkkkkkkkkkk.",
        "...........................",
    });
    const char* const word[] = {
        ".####...####..##",
        "##..##.##..##.##",
        "##.....##..##.##",
        "##.....##..##.##",
        "##.###.##..##.##",
        "##..##.##..##.##",
        "##..##.##..##...",
        "##..##.##..##.##",
        ".####...####..##",
    };
    for (int y = 0; y < 9; ++y)
        for (int x = 0; word[y][x]; ++x)
            if (word[y][x] == '#')
                img.setPixel(5 + x, 4 + y, kYellow);
    return img;
}

QImage drawGoAll()
{
    // Three GO! panels stacked: every photograph of the sitting at once.
    QImage img(20, 17, QImage::Format_ARGB32);
    img.fill(kGrey);
    auto panel = [&](int x0, int y0) {
        for (int y = y0; y < y0 + 11; ++y)
            for (int x = x0; x < x0 + 15; ++x)
                img.setPixel(x, y, (x == x0 || x == x0 + 14 || y == y0 || y == y0 + 10) ? kBlack : kNavy);
    };
    panel(5, 0);
    panel(3, 3);
    panel(0, 6);
    const char* const word[] = {
        ".###..##..#",
        "#....#..#.#",
        "#.##.#..#.#",
        "#..#.#..#..",
        ".###..##..#",
    };
    for (int y = 0; y < 5; ++y)
        for (int x = 0; word[y][x]; ++x)
            if (word[y][x] == '#')
                img.setPixel(2 + x, 9 + y, kYellow);
    return img;
}

// A black triangle pointing left (previous photograph) or right (next).
QImage drawStep(bool forward)
{
    QImage img = fromRows({
        ".........",
        ".....k...",
        "....kk...",
        "...kkk...",
        "..kkkk...",
        "...kkk...",
        "....kk...",
        ".....k...",
        ".........",
    });
    return forward ? img.mirrored(true, false) : img;
}

// ------------------------------------------------------------------ splash

const int kTitlePx = 20;
const int kTextPx = 9;
const int kTop = 7;
const int kLineStep = 11;
const int kStepGap = 6;

QFont loadFont(const char* file, int pixelSize)
{
    const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(file));
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (id < 0 || families.isEmpty()) {
        std::fprintf(stderr, "drawart: cannot load font %s (fonts-dejavu-core)\n", file);
        std::exit(1);
    }
    QFont font(families.front());
    font.setPixelSize(pixelSize);
    // Antialiased text would bring in colours outside the 16, and hinting
    // keeps the strokes on whole pixels at this size.
    font.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias |
                                               QFont::NoFontMerging));
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setKerning(false);
    return font;
}

// At this size the hinted space is sometimes a single pixel and words run
// together, so words are placed one by one with a space of our own.
int spaceWidth(const QFontMetrics& fm)
{
    return std::max(fm.horizontalAdvance(QLatin1Char(' ')), 3);
}

// Hinted glyphs such as f, w and y can reach past their advance; the next word
// starts after whichever ends later.
int wordWidth(const QString& word, const QFontMetrics& fm)
{
    return std::max(fm.horizontalAdvance(word), fm.tightBoundingRect(word).right() + 1);
}

int lineWidth(const QStringList& words, const QFontMetrics& fm)
{
    int w = 0;
    for (const QString& word : words)
        w += (w ? spaceWidth(fm) : 0) + wordWidth(word, fm);
    return w;
}

// Greedy word wrap.
std::vector<QStringList> wrap(const QString& text, const QFontMetrics& fm, int width)
{
    std::vector<QStringList> lines(1);
    for (const QString& word : text.split(' ')) {
        QStringList candidate = lines.back();
        candidate << word;
        if (!lines.back().isEmpty() && lineWidth(candidate, fm) > width)
            lines.push_back(QStringList{word});
        else
            lines.back() = candidate;
    }
    return lines;
}

void drawWords(QPainter& p, int x, int baseline, const QStringList& words)
{
    const QFontMetrics fm(p.font());
    for (const QString& word : words) {
        p.drawText(x, baseline, word);
        x += wordWidth(word, fm) + spaceWidth(fm);
    }
}

const char* const kSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* const kSansBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

QImage drawSplash()
{
    QImage img(180, 195, QImage::Format_ARGB32);
    img.fill(kWhite);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, false);

    const QFont title = loadFont(kSansBold, kTitlePx);
    const QFont version = loadFont(kSans, kTextPx);
    const QFont body = loadFont(kSans, kTextPx);
    const QFont number = loadFont(kSansBold, kTextPx);

    // Title and version on one baseline, centred together.
    const QFontMetrics tfm(title), vfm(version);
    const QString name = QStringLiteral("Trimora");
    const QString ver = QStringLiteral("v 1.1");
    const int gap = 5;
    const int titleW = tfm.horizontalAdvance(name) + gap + vfm.horizontalAdvance(ver);
    const int titleX = (img.width() - titleW) / 2;
    const int titleBase = kTop + tfm.ascent();
    p.setPen(kNavy);
    p.setFont(title);
    p.drawText(titleX, titleBase, name);
    p.setPen(kBlack);
    p.setFont(version);
    p.drawText(titleX + tfm.horizontalAdvance(name) + gap, titleBase, ver);

    int y = titleBase + tfm.descent() + 3;
    p.fillRect(6, y, img.width() - 12, 1, kNavy);
    y += 5;

    const char* const steps[] = {
        "Put the flash card of your camera into the handheld.",
        "Tap the open-folder picture and select the file.",
        "Select the format for print.",
        "Move the frame as needed.",
        "Adjust colours if necessary with the sun picture.",
        "Select the GO! picture to create the new file on the flash card.",
    };
    const QFontMetrics bfm(body), nfm(number);
    const int left = 5, indent = 15, right = img.width() - 5;
    for (int i = 0; i < 6; ++i) {
        const auto lines = wrap(QString::fromLatin1(steps[i]), bfm, right - left - indent);
        p.setPen(kNavy);
        p.setFont(number);
        p.drawText(left, y + bfm.ascent(), QString::number(i + 1) + '.');
        p.setPen(kBlack);
        p.setFont(body);
        for (const QStringList& line : lines) {
            drawWords(p, left + indent, y + bfm.ascent(), line);
            y += kLineStep;
        }
        y += kStepGap;
    }
    p.end();
    if (y - kStepGap > img.height()) {
        std::fprintf(stderr, "drawart: splash text runs %d pixels past the bottom\n",
                     y - kStepGap - img.height());
        std::exit(1);
    }
    return img;
}

// ------------------------------------------------------------- program icon

// A landscape photograph with a crop frame over it: inside the frame the
// picture is bright, outside it dimmed, as the frame shows what will be kept.
void drawScene(QImage& img, const QRect& photo, bool bright)
{
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    const double x0 = photo.left(), y0 = photo.top();
    const double w = photo.width(), h = photo.height();
    auto at = [&](double fx, double fy) { return QPointF(x0 + fx * w, y0 + fy * h); };

    p.fillRect(photo, QColor::fromRgb(bright ? kCyan : kTeal));
    p.setBrush(QColor::fromRgb(bright ? kYellow : kOlive));
    const double r = 0.13 * h;
    p.drawEllipse(at(0.62, 0.36), r, r);
    p.setBrush(QColor::fromRgb(bright ? kGreen : kDarkGreen));
    const QPointF hills[] = {at(0.0, 0.70), at(0.28, 0.42), at(0.50, 0.62), at(0.70, 0.50),
                             at(1.0, 0.74), at(1.0, 1.0),   at(0.0, 1.0)};
    p.drawPolygon(hills, 7);
}

QImage drawIcon(int s)
{
    QImage img(s, s, QImage::Format_ARGB32);
    img.fill(qRgba(0, 0, 0, 0));

    // Landscape photograph, a little wider than tall, with a black edge.
    const int top = s * 2 / 16, bottom = s - 1 - s * 2 / 16;
    const QRect photo(1, top + 1, s - 2, bottom - top - 1);
    QImage bright = img.copy(), dim = img.copy();
    drawScene(bright, photo, true);
    drawScene(dim, photo, false);

    const int inset = s * 4 / 16;
    const QRect frame(inset, top + s * 2 / 16, s - 2 * inset, bottom - top - s * 4 / 16 + 1);
    for (int y = 0; y < s; ++y)
        for (int x = 0; x < s; ++x)
            if (photo.contains(x, y))
                img.setPixel(x, y, frame.contains(x, y) ? bright.pixel(x, y) : dim.pixel(x, y));
    for (int x = 0; x < s; ++x) {
        img.setPixel(x, top, kBlack);
        img.setPixel(x, bottom, kBlack);
    }
    for (int y = top; y <= bottom; ++y) {
        img.setPixel(0, y, kBlack);
        img.setPixel(s - 1, y, kBlack);
    }

    // The frame's outline: white, dotted with black where there is room, as
    // the tracker draws it.
    const int dash = s >= 32 ? 2 : 0;
    auto edge = [&](int x, int y, int i) {
        img.setPixel(x, y, dash && (i / dash) % 2 ? kBlack : kWhite);
    };
    for (int x = frame.left(); x <= frame.right(); ++x) {
        edge(x, frame.top(), x - frame.left());
        edge(x, frame.bottom(), x - frame.left());
    }
    for (int y = frame.top(); y <= frame.bottom(); ++y) {
        edge(frame.left(), y, y - frame.top());
        edge(frame.right(), y, y - frame.top());
    }

    // Handles inside the corners.
    const int hs = s / 16 + 1;
    auto handle = [&](int cx, int cy) {
        for (int y = 0; y < hs; ++y)
            for (int x = 0; x < hs; ++x)
                img.setPixel(cx + x, cy + y, kBlack);
    };
    const int l = frame.left(), t = frame.top();
    const int r = frame.right() - hs + 1, b = frame.bottom() - hs + 1;
    handle(l, t);
    handle(r, t);
    handle(l, b);
    handle(r, b);
    return img;
}

// At 16 x 16 the drawn scene turns to mush, so the small icon is placed
// pixel by pixel: the same photograph, frame and dimmed surround.
QImage drawSmallIcon()
{
    return fromRows({
        "                ",
        "                ",
        "kkkkkkkkkkkkkkkk",
        "kttttttttttttttk",
        "ktttkkwwwwkktttk",
        "ktttkcccyycktttk",
        "ktttwcccyycwtttk",
        "ktggwGGcccGwtttk",
        "kgggwGGGGGGwggtk",
        "kgggwGGGGGGwgggk",
        "kgggkGGGGGGkgggk",
        "kgggkkwwwwkkgggk",
        "kggggggggggggggk",
        "kkkkkkkkkkkkkkkk",
        "                ",
        "                ",
    });
}

// The icon as an SVG, from the same proportions as drawIcon: for desktops
// that scale icons beyond the drawn sizes.
std::string drawIconSvg()
{
    const double s = 256;
    const double top = s * 2 / 16, bottom = s - s * 2 / 16;
    const double px = 0, py = top, pw = s, ph = bottom - top;
    const double inset = s * 4 / 16;
    const double fx = inset, fy = top + s * 2 / 16, fw = s - 2 * inset, fh = ph - s * 4 / 16;
    const double hs = s / 16;
    auto colour = [](QRgb c) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "#%02x%02x%02x", qRed(c), qGreen(c), qBlue(c));
        return std::string(buf);
    };
    auto num = [](double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", v);
        return std::string(buf);
    };
    auto scene = [&](bool bright) {
        auto at = [&](double x, double y) { return num(px + x * pw) + "," + num(py + y * ph); };
        std::string g;
        g += "<rect x=\"" + num(px) + "\" y=\"" + num(py) + "\" width=\"" + num(pw) + "\" height=\"" + num(ph) +
             "\" fill=\"" + colour(bright ? kCyan : kTeal) + "\"/>";
        g += "<circle cx=\"" + num(px + 0.62 * pw) + "\" cy=\"" + num(py + 0.36 * ph) + "\" r=\"" +
             num(0.13 * ph) + "\" fill=\"" + colour(bright ? kYellow : kOlive) + "\"/>";
        g += "<polygon points=\"" + at(0, 0.70) + " " + at(0.28, 0.42) + " " + at(0.50, 0.62) + " " +
             at(0.70, 0.50) + " " + at(1, 0.74) + " " + at(1, 1) + " " + at(0, 1) + "\" fill=\"" +
             colour(bright ? kGreen : kDarkGreen) + "\"/>";
        return g;
    };
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
                      "viewBox=\"0 0 256 256\">\n"
                      "<defs><clipPath id=\"frame\"><rect x=\"" + num(fx) + "\" y=\"" + num(fy) +
                      "\" width=\"" + num(fw) + "\" height=\"" + num(fh) + "\"/></clipPath></defs>\n";
    svg += "<g>" + scene(false) + "</g>\n";
    svg += "<g clip-path=\"url(#frame)\">" + scene(true) + "</g>\n";
    svg += "<rect x=\"" + num(px + 4) + "\" y=\"" + num(py + 4) + "\" width=\"" + num(pw - 8) + "\" height=\"" +
           num(ph - 8) + "\" fill=\"none\" stroke=\"" + colour(kBlack) + "\" stroke-width=\"8\"/>\n";
    svg += "<rect x=\"" + num(fx + 2) + "\" y=\"" + num(fy + 2) + "\" width=\"" + num(fw - 4) + "\" height=\"" +
           num(fh - 4) + "\" fill=\"none\" stroke=\"" + colour(kWhite) + "\" stroke-width=\"4\"/>\n";
    svg += "<rect x=\"" + num(fx + 2) + "\" y=\"" + num(fy + 2) + "\" width=\"" + num(fw - 4) + "\" height=\"" +
           num(fh - 4) + "\" fill=\"none\" stroke=\"" + colour(kBlack) + "\" stroke-width=\"4\" "
           "stroke-dasharray=\"8 8\"/>\n";
    for (double hx : {fx, fx + fw - hs})
        for (double hy : {fy, fy + fh - hs})
            svg += "<rect x=\"" + num(hx) + "\" y=\"" + num(hy) + "\" width=\"" + num(hs) + "\" height=\"" +
                   num(hs) + "\" fill=\"" + colour(kBlack) + "\"/>\n";
    svg += "</svg>\n";
    return svg;
}

// The icon in a freedesktop icon theme folder (hicolor/NxN/apps/NAME.png).
void writeThemeIcons(const QString& theme, const QString& name)
{
    for (int s : {16, 24, 32, 48, 64, 128, 256}) {
        const QString dir = theme + QStringLiteral("/hicolor/%1x%1/apps").arg(s);
        QDir().mkpath(dir);
        writePalettePng(s == 16 ? drawSmallIcon() : drawIcon(s), dir + "/" + name + ".png", false);
    }
    const QString dir = theme + "/hicolor/scalable/apps";
    QDir().mkpath(dir);
    QFile svg(dir + "/" + name + ".svg");
    const std::string text = drawIconSvg();
    if (!svg.open(QIODevice::WriteOnly) || svg.write(text.data(), qint64(text.size())) != qint64(text.size())) {
        std::fprintf(stderr, "drawart: cannot write %s\n", qPrintable(svg.fileName()));
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: drawart OUTPUT-FOLDER [ICON-THEME-FOLDER]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]) + "/";

    writePalettePng(drawCross(), out + "bmp138.png", true);
    writePalettePng(drawOpenFolder(), out + "bmp139.png", true);
    writePalettePng(drawTurn(), out + "bmp140.png", true);
    writePalettePng(drawSun(), out + "bmp141.png", true);
    writePalettePng(drawGo(), out + "bmp142.png", true);
    writePalettePng(drawGoAll(), out + "bmp143.png", true);
    writePalettePng(drawStep(false), out + "bmp144.png", true);
    writePalettePng(drawStep(true), out + "bmp145.png", true);
    writePalettePng(drawSplash(), out + "bmp134.png", true);
    writePalettePng(drawIcon(32), out + "icon128.png", false);
    writePalettePng(drawSmallIcon(), out + "icon128_16.png", false);
    writePalettePng(drawIcon(48), out + "icon128_48.png", false);
    if (argc == 3) writeThemeIcons(QString::fromLocal8Bit(argv[2]), "io.github.trimora.Trimora");
    return 0;
}
