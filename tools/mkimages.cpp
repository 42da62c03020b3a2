// mkimages: draws the program's pictures and writes them as PNG.
//
//   mkimages <output-dir> [preview.png]
//
// Writes icon-16/24/32/48.png (the application icon), logo.png (400 x 70, the left end of the
// header band) and header-filler.png (5 x 70, stretched sideways to fill the band). With a
// second argument it also writes a preview of the band and the icons on the dialog background.
//
// The pictures are drawn, not scaled: the small icons have their own pixel-aligned shapes so
// they stay crisp. Text is rendered to pixels here from fixed font files, so the program needs
// no font for its pictures. The output is the same on every run; the PNGs are committed, and
// this tool only runs when the pictures change:
//
//   QT_QPA_PLATFORM=offscreen mkimages resources/images /tmp/preview.png

#include <cstdio>
#include <cstdlib>

#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QStringList>

namespace {

constexpr int kBandHeight = 70;
constexpr int kLogoWidth = 400;
constexpr int kFillerWidth = 5;

// The dialog's own colours, so the pictures sit on it without a seam.
const QColor kDialogBack(191, 202, 230);
const QColor kRise(214, 38, 38);  // a calmer red than the table's pure red, same meaning

// The band: a vertical gradient from near white into the dialog blue, closed by a rule.
const QColor kBandTop(248, 250, 255);
const QColor kBandBottom(206, 216, 239);
const QColor kBandRule(160, 178, 218);

// The icon tile and the wordmark.
const QColor kTileTop(70, 125, 205);
const QColor kTileBottom(30, 74, 150);
const QColor kTileEdge(22, 56, 118);
const QColor kMark(255, 255, 255);
const QColor kWordmark(28, 70, 146);
const QColor kTagline(62, 84, 128);
const QColor kSeparator(150, 170, 212);

const char* const kLatinFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
const char* const kCjkFontFile = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";

// One colour per row, computed in integers: the logo and the filler use the same rows, so the
// band continues without a visible step where the logo ends.
QColor BandColour(int y) {
    if (y == kBandHeight - 1) return kBandRule;
    const int span = kBandHeight - 2;
    auto mix = [&](int a, int b) { return a + ((b - a) * y + span / 2) / span; };
    return QColor(mix(kBandTop.red(), kBandBottom.red()), mix(kBandTop.green(), kBandBottom.green()),
                  mix(kBandTop.blue(), kBandBottom.blue()));
}

QImage MakeBand(int width) {
    QImage img(width, kBandHeight, QImage::Format_RGB32);
    for (int y = 0; y < kBandHeight; ++y) {
        const QRgb c = BandColour(y).rgb();
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < width; ++x) line[x] = c;
    }
    return img;
}

void DrawTile(QPainter& p, const QRectF& r, qreal radius) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, kTileTop);
    g.setColorAt(1, kTileBottom);
    p.setPen(Qt::NoPen);
    p.setBrush(kTileEdge);
    p.drawRoundedRect(r, radius, radius);
    p.setBrush(g);
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
}

// The mark is a Z: its top stroke ends in a red arrow and its diagonal is a rising chart line
// that runs from the bottom stroke into the arrow. Each size has its own numbers, chosen so the
// strokes and the arrow's legs lie on whole pixels.
struct MarkGeometry {
    QRectF tile;
    qreal radius;
    qreal left, top, right, bottom;  // the Z's box
    qreal stroke;
    qreal arrow;      // length of the arrow's legs
    QPolygonF chart;  // inner points of the diagonal, bottom left to top right
};

void DrawMark(QPainter& p, const MarkGeometry& g) {
    DrawTile(p, g.tile, g.radius);
    p.setPen(Qt::NoPen);
    p.setBrush(kMark);
    p.drawRect(QRectF(g.left, g.top, g.right - g.arrow - g.left, g.stroke));

    // Bottom stroke and diagonal are one line, so the corner is mitred like a letter's; the
    // clip cuts the mitre's point off square with the Z's left edge. The line ends inside the
    // arrow head, which covers its end.
    const qreal mid = g.bottom - g.stroke / 2;
    QPolygonF line;
    line << QPointF(g.right, mid) << QPointF(g.left + g.stroke / 2, mid) << g.chart
         << QPointF(g.right - 0.4 * g.arrow, g.top + 0.4 * g.arrow);
    p.save();
    p.setClipRect(QRectF(g.left, g.top, g.right - g.left, g.bottom - g.top));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kMark, g.stroke, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.drawPolyline(line);
    p.restore();

    p.setPen(Qt::NoPen);
    p.setBrush(kRise);
    p.drawPolygon(QPolygonF{{g.right, g.top}, {g.right - g.arrow, g.top}, {g.right, g.top + g.arrow}});
}

const MarkGeometry kMark48{QRectF(1, 1, 46, 46), 9, 11, 11, 37, 37, 5, 11, QPolygonF{{19.5, 26.5}, {24, 27}}};
const MarkGeometry kMark32{QRectF(1, 1, 30, 30), 6, 7, 7, 25, 25, 4, 8, QPolygonF{{12, 18}, {15, 18.5}}};
const MarkGeometry kMark24{QRectF(0, 0, 24, 24), 4.5, 5, 5, 19, 19, 3, 7, QPolygonF{}};

// 16 pixels: set pixel by pixel, a 45-degree diagonal and a five-pixel arrow head.
void DrawMark16(QPainter& p) {
    DrawTile(p, QRectF(0, 0, 16, 16), 3);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(kMark);
    p.drawRect(3, 3, 5, 2);    // top stroke
    p.drawRect(3, 11, 10, 2);  // bottom stroke
    for (int y = 5; y <= 10; ++y) p.drawRect(14 - y, y, 2, 1);
    p.setBrush(kRise);
    for (int y = 3; y <= 7; ++y) p.drawRect(5 + y, y, 13 - (5 + y), 1);
}

QImage MakeIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    switch (size) {
        case 16:
            DrawMark16(p);
            break;
        case 24:
            DrawMark(p, kMark24);
            break;
        case 32:
            DrawMark(p, kMark32);
            break;
        default:
            DrawMark(p, kMark48);
            break;
    }
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

QFont LoadFont(const char* file, int pixelSize, bool bold) {
    const int id = QFontDatabase::addApplicationFont(QString::fromUtf8(file));
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        std::fprintf(stderr, "mkimages: cannot load font %s\n", file);
        std::exit(1);
    }
    QFont f(families.first());
    f.setPixelSize(pixelSize);
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

QImage MakeLogo() {
    QImage img = MakeBand(kLogoWidth);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    p.save();
    p.translate(12, 11);
    DrawMark(p, kMark48);
    p.restore();

    QFont word = LoadFont(kLatinFontFile, 30, true);
    QPainterPath wordPath;
    wordPath.addText(72, 45, word, QStringLiteral("Zeza"));
    p.setPen(Qt::NoPen);
    p.setBrush(kWordmark);
    p.drawPath(wordPath);

    const qreal sepX = wordPath.boundingRect().right() + 14.5;
    p.setPen(QPen(kSeparator, 1));
    p.drawLine(QPointF(sepX, 22), QPointF(sepX, 48));

    QFont tag = LoadFont(kCjkFontFile, 17, false);
    tag.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    p.setPen(kTagline);
    p.setFont(tag);
    p.drawText(QPointF(sepX + 14, 41), QStringLiteral("开放式基金投资助手"));
    p.end();
    return img;
}

QImage MakePreview(const QImage& logo, const QImage& filler, const QImage* icons, int iconCount) {
    QImage img(1000, kBandHeight + 80, QImage::Format_RGB32);
    img.fill(kDialogBack);
    QPainter p(&img);
    p.drawImage(0, 0, logo);
    p.drawImage(QRect(kLogoWidth, 0, 600, kBandHeight), filler);
    int x = 20;
    for (int i = 0; i < iconCount; ++i) {
        p.drawImage(x, kBandHeight + 16, icons[i]);
        x += icons[i].width() + 20;
    }
    // The same icons on a dark task bar.
    p.fillRect(QRect(500, kBandHeight, 500, 80), QColor(32, 36, 44));
    x = 520;
    for (int i = 0; i < iconCount; ++i) {
        p.drawImage(x, kBandHeight + 16, icons[i]);
        x += icons[i].width() + 20;
    }
    p.end();
    return img;
}

bool Save(const QImage& img, const QString& path) {
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "mkimages: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: mkimages <output-dir> [preview.png]\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "mkimages: cannot create %s\n", argv[1]);
        return 1;
    }

    const int sizes[] = {16, 24, 32, 48};
    QImage icons[4];
    bool ok = true;
    for (int i = 0; i < 4; ++i) {
        icons[i] = MakeIcon(sizes[i]);
        ok &= Save(icons[i], out.filePath(QStringLiteral("icon-%1.png").arg(sizes[i])));
    }
    const QImage logo = MakeLogo();
    const QImage filler = MakeBand(kFillerWidth);
    ok &= Save(logo, out.filePath(QStringLiteral("logo.png")));
    ok &= Save(filler, out.filePath(QStringLiteral("header-filler.png")));
    if (argc == 3) ok &= Save(MakePreview(logo, filler, icons, 4), QString::fromLocal8Bit(argv[2]));
    return ok ? 0 : 1;
}
