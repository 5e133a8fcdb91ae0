// Draws the instructions window's pictures and writes them as JPEG files.
//   langpics <forms folder>
#include <cstdio>
#include <memory>

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>
#include <QTextLayout>

#include "artwork.h"
#include "jpeg_writer.h"
#include "translations.h"

namespace {

constexpr int kWidth = 484;
constexpr int kHeight = 63;
// The picture box shows 60 of the 63 rows; the four lines keep inside them.
constexpr qreal kLinePitch = 15.0;
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
    const qreal squeeze = line.width > room ? room / line.width : 1.0;
    const QTextLine textLine = line.layout->lineAt(0);
    const qreal baseline =
        1.0 + kLinePitch * i + (kLinePitch + textLine.ascent() - textLine.descent()) / 2.0;
    p.save();
    p.translate((kWidth - line.width * squeeze) / 2.0, baseline - textLine.ascent());
    p.scale(squeeze, 1.0);
    // The layout's own x offset is that of a right-aligned line in a wide box for
    // right-to-left text; draw from the line's natural start instead.
    p.translate(-textLine.naturalTextRect().left(), 0);
    line.layout->draw(&p, QPointF(0, 0));
    p.restore();
    if (squeeze < 0.9) {
      std::fprintf(stderr, "%s line %d narrowed to %.0f%%\n", language.control, i + 1,
                   squeeze * 100);
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
