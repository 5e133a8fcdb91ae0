// Draws the instructions window's pictures and writes them as JPEG files.
//   langpics <forms folder>
#include <algorithm>
#include <cstdio>
#include <memory>

#include <QFont>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QTextLayout>

#include "artwork.h"
#include "jpeg_writer.h"
#include "translations.h"

namespace {

constexpr int kWidth = 484;
constexpr int kHeight = 63;
// The picture box shows 60 of the 63 rows; the four lines keep inside them.
constexpr qreal kLinePitch = 15.0;
constexpr qreal kShownRows = 60.0;
constexpr qreal kSideMargin = 5.0;

struct ScriptStyle {
  QStringList families;
  qreal pixelSize;
  bool rightToLeft;
};

ScriptStyle styleOf(Script script) {
  const QString latin = QStringLiteral("Noto Sans");
  switch (script) {
    case Script::Latin:
    case Script::Cyrillic:
    case Script::Greek:
      return {{latin}, 11.5, false};
    case Script::Hebrew:
      return {{QStringLiteral("Noto Sans Hebrew"), latin}, 12.0, true};
    case Script::Arabic:
      // The UI cut keeps Arabic's tall marks inside a 15-pixel line.
      return {{QStringLiteral("Noto Sans Arabic UI"), latin}, 12.5, true};
    case Script::Thai:
      return {{QStringLiteral("Noto Sans Thai UI"), latin}, 12.0, false};
    case Script::Japanese:
      return {{QStringLiteral("Noto Sans CJK JP"), latin}, 11.5, false};
    case Script::Korean:
      return {{QStringLiteral("Noto Sans CJK KR"), latin}, 11.5, false};
    case Script::ChineseSimp:
      return {{QStringLiteral("Noto Sans CJK SC"), latin}, 11.5, false};
    case Script::ChineseTrad:
      return {{QStringLiteral("Noto Sans CJK TC"), latin}, 11.5, false};
  }
  return {{latin}, 11.5, false};
}

// One laid-out line at a given size: shaping, bidi and line breaking are Qt's.
struct Line {
  std::unique_ptr<QTextLayout> layout;
  qreal width = 0;
};

Line layOut(const QString& text, const QFont& font, bool rightToLeft) {
  Line line;
  line.layout = std::make_unique<QTextLayout>(text, font);
  QTextOption option;
  option.setTextDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
  option.setWrapMode(QTextOption::NoWrap);
  line.layout->setTextOption(option);
  line.layout->beginLayout();
  QTextLine textLine = line.layout->createLine();
  textLine.setLineWidth(10000);
  line.layout->endLayout();
  line.width = textLine.naturalTextWidth();
  return line;
}

// The rectangle the glyphs actually cover, with y relative to the baseline.
QRectF inkBounds(const QTextLayout& layout) {
  QRectF ink;
  const QTextLine line = layout.lineAt(0);
  for (const QGlyphRun& run : layout.glyphRuns()) {
    const QRawFont raw = run.rawFont();
    const QList<quint32> glyphs = run.glyphIndexes();
    const QList<QPointF> positions = run.positions();
    for (qsizetype g = 0; g < glyphs.size(); ++g) {
      const QRectF box = raw.pathForGlyph(glyphs[g]).boundingRect().translated(positions[g]);
      ink = ink.united(box.translated(0, -line.ascent()));
    }
  }
  return ink;
}

QImage drawLanguage(const PictureLanguage& language) {
  const ScriptStyle style = styleOf(language.script);
  QFont font;
  font.setFamilies(style.families);
  font.setHintingPreference(QFont::PreferFullHinting);
  const qreal room = kWidth - 2 * kSideMargin;
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setPen(Qt::black);
  struct Placed {
    Line line;
    qreal squeeze;
    QRectF ink;  // relative to the baseline at the line's natural start
  } placed[4];
  for (int i = 0; i < 4; ++i) {
    const QString text = QString::fromUtf8(language.lines[i]);
    // Shrink a long line a little; what still does not fit is narrowed, never cut.
    qreal size = style.pixelSize;
    font.setPointSizeF(size * 0.75);
    Line line = layOut(text, font, style.rightToLeft);
    if (line.width > room) {
      std::fprintf(stderr, "%s line %d is %.0f wide at full size\n", language.control, i + 1,
                   line.width);
    }
    while (line.width > room && size > 10.0) {
      size -= 0.5;
      font.setPointSizeF(size * 0.75);
      line = layOut(text, font, style.rightToLeft);
    }
    placed[i].squeeze = line.width > room ? room / line.width : 1.0;
    placed[i].ink = inkBounds(*line.layout);
    placed[i].line = std::move(line);
  }
  // Baselines evenly spaced, the first line's marks and the last line's
  // descenders kept inside the rows the picture box shows.
  const qreal top = 1.0 - placed[0].ink.top();
  const qreal bottom = kShownRows - 1.0 - placed[3].ink.bottom();
  const qreal pitch = std::min(kLinePitch, (bottom - top) / 3.0);
  const qreal first = top + ((bottom - top) - 3.0 * pitch) / 2.0;
  for (int i = 0; i < 4; ++i) {
    const Placed& line = placed[i];
    const QTextLine textLine = line.line.layout->lineAt(0);
    const qreal baseline = first + pitch * i;
    p.save();
    p.translate((kWidth - line.line.width * line.squeeze) / 2.0, baseline - textLine.ascent());
    p.scale(line.squeeze, 1.0);
    // A right-to-left line is laid out against the right edge of its wide box:
    // draw it from its natural start.
    p.translate(-textLine.naturalTextRect().left(), 0);
    line.line.layout->draw(&p, QPointF(0, 0));
    p.restore();
    if (line.squeeze < 0.9) {
      std::fprintf(stderr, "%s line %d narrowed to %.0f%%\n", language.control, i + 1,
                   line.squeeze * 100);
    }
  }
  return image;
}

bool save(const QImage& image, const QString& folder, const char* control) {
  QString error;
  const QString path = folder + QLatin1Char('/') + QLatin1String(control) + QStringLiteral(".jpg");
  if (!writeJpeg(image, path, 94, &error)) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(error));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: langpics <forms folder>\n");
    return 2;
  }
  for (const char* family : {"Noto Sans", "Noto Sans Arabic UI", "Noto Sans Hebrew",
                             "Noto Sans Thai UI", "Noto Sans CJK JP"}) {
    if (!QFontDatabase::hasFamily(QLatin1String(family))) {
      std::fprintf(stderr, "font family missing: %s (scripts/setup-deps.sh --tools)\n", family);
      return 1;
    }
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  bool ok = true;
  for (const PictureLanguage& language : kPictureLanguages) {
    ok = save(drawLanguage(language), folder, language.control) && ok;
  }
  ok = save(drawBanner(), folder, "Image2") && ok;
  ok = save(drawBannerMark(), folder, "Image15") && ok;
  ok = save(drawAboutEmblem(), folder, "Image10") && ok;
  ok = save(drawThanks(), folder, "Image11") && ok;
  ok = save(drawEbooks(), folder, "Image3") && ok;
  ok = save(drawWallpapers(), folder, "Image4") && ok;
  ok = save(drawBook(), folder, "Image5") && ok;
  ok = save(drawProjects(), folder, "Image12") && ok;
  return ok ? 0 : 1;
}
