#include "artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

const QColor kNight(0x16, 0x33, 0x45);
const QColor kTeal(0x1f, 0x4e, 0x5f);
const QColor kSky(0x4d, 0x8c, 0x9e);
const QColor kMossDark(0x3c, 0x63, 0x24);
const QColor kMoss(0x5e, 0x8c, 0x31);
const QColor kMossLight(0x8d, 0xb8, 0x4a);
const QColor kCream(0xf6, 0xee, 0xda);
const QColor kAmber(0xe8, 0xa3, 0x3d);

QImage canvas(int w, int h, const QColor& fill = Qt::white) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(fill);
  return image;
}

void prepare(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
}

QFont sans(qreal pixels, int weight = QFont::Normal) {
  QFont font(QStringLiteral("Noto Sans"));
  font.setPixelSize(qRound(pixels));
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

void sky(QPainter& p, const QRectF& r) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, kNight);
  g.setColorAt(0.55, kTeal);
  g.setColorAt(1, kSky);
  p.fillRect(r, g);
  // A low sun behind the hills.
  QRadialGradient sun(r.left() + r.width() * 0.78, r.top() + r.height() * 0.62, r.height() * 0.55);
  sun.setColorAt(0, QColor(0xff, 0xd9, 0x8a, 170));
  sun.setColorAt(0.35, QColor(0xf0, 0xb0, 0x5a, 70));
  sun.setColorAt(1, QColor(0xf0, 0xb0, 0x5a, 0));
  p.fillRect(r, sun);
}

// Three rolling hills of moss, back to front.
void hills(QPainter& p, const QRectF& r) {
  const qreal w = r.width(), h = r.height(), x = r.left(), y = r.top();
  struct Hill {
    qreal base, a, b;
    QColor colour;
  } layers[] = {{0.70, 0.58, 0.74, kMossLight.darker(115)},
                {0.80, 0.70, 0.62, kMoss},
                {0.90, 0.76, 0.86, kMossDark}};
  for (const Hill& hill : layers) {
    QPainterPath path(QPointF(x, y + h * hill.base));
    path.cubicTo(x + w * 0.25, y + h * hill.a, x + w * 0.55, y + h * hill.b, x + w,
                 y + h * (hill.base - 0.06));
    path.lineTo(x + w, y + h);
    path.lineTo(x, y + h);
    path.closeSubpath();
    p.fillPath(path, hill.colour);
  }
  // Tufts of moss on the front hill.
  p.setPen(QPen(kMossLight, 1.2));
  for (int i = 0; i < 40; ++i) {
    const qreal tx = x + w * (0.03 + 0.024 * i);
    const qreal ty = y + h * (0.955 - 0.02 * ((i * 7) % 5) / 4.0);
    p.drawLine(QPointF(tx, ty), QPointF(tx - 2, ty - 5));
    p.drawLine(QPointF(tx, ty), QPointF(tx + 2, ty - 6));
  }
}

// A quill: shaft along the local y axis from (0, 0) up to (0, -length), vane
// around its upper part, nib at the origin.
void quill(QPainter& p, QPointF nib, qreal length, qreal angle) {
  p.save();
  p.translate(nib);
  p.rotate(angle);
  const qreal L = length, w = length * 0.2;
  QPainterPath vane(QPointF(0, -L));
  vane.cubicTo(w * 1.15, -L * 0.78, w * 0.95, -L * 0.36, w * 0.1, -L * 0.2);
  vane.lineTo(-w * 0.05, -L * 0.2);
  vane.cubicTo(-w * 0.75, -L * 0.34, -w * 1.0, -L * 0.72, 0, -L);
  QLinearGradient shade(QPointF(-w, 0), QPointF(w, 0));
  shade.setColorAt(0, kCream.darker(112));
  shade.setColorAt(0.5, kCream);
  shade.setColorAt(1, QColor(0xe4, 0xd6, 0xb4));
  p.setPen(QPen(QColor(0x9c, 0x8a, 0x62), 1.0));
  p.setBrush(shade);
  p.drawPath(vane);
  // Barbs: fine slanted strokes, and two notches where the vane has split.
  p.setPen(QPen(QColor(0xb9, 0xa7, 0x7e), 0.7));
  for (int i = 1; i < 16; ++i) {
    const qreal t = -L * (0.24 + 0.045 * i);
    p.drawLine(QPointF(0, t), QPointF(w * 0.8, t + L * 0.06));
    p.drawLine(QPointF(0, t), QPointF(-w * 0.7, t + L * 0.05));
  }
  p.setPen(QPen(QColor(0x5a, 0x4a, 0x2e), 1.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(0, -L * 0.08), QPointF(0, -L * 0.97));
  QPainterPath nibPath(QPointF(-2.2, -L * 0.1));
  nibPath.lineTo(2.2, -L * 0.1);
  nibPath.lineTo(0, 0);
  nibPath.closeSubpath();
  p.fillPath(nibPath, QColor(0x2b, 0x2b, 0x33));
  p.restore();
}

// The drop motif: an archive box with an arrow falling into it, in a dashed frame.
void dropMotif(QPainter& p, const QRectF& r) {
  p.save();
  p.setPen(QPen(QColor(255, 255, 255, 200), 2, Qt::DashLine, Qt::RoundCap));
  p.setBrush(QColor(255, 255, 255, 28));
  p.drawRoundedRect(r, 10, 10);
  const QRectF box(r.center().x() - r.width() * 0.26, r.top() + r.height() * 0.52, r.width() * 0.52,
                   r.height() * 0.32);
  QLinearGradient wood(box.topLeft(), box.bottomLeft());
  wood.setColorAt(0, QColor(0xc9, 0x8b, 0x4a));
  wood.setColorAt(1, QColor(0x9a, 0x62, 0x2c));
  p.setPen(QPen(QColor(0x5e, 0x3b, 0x18), 1.2));
  p.setBrush(wood);
  p.drawRoundedRect(box, 3, 3);
  // Three bands round the box stand for the archive's volumes.
  p.setPen(QPen(QColor(0x5e, 0x3b, 0x18, 160), 1.0));
  for (int i = 1; i < 4; ++i) {
    const qreal bx = box.left() + box.width() * i / 4.0;
    p.drawLine(QPointF(bx, box.top() + 2), QPointF(bx, box.bottom() - 2));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(kAmber);
  const qreal cx = r.center().x(), top = r.top() + r.height() * 0.12;
  QPainterPath arrow(QPointF(cx - 5, top));
  arrow.lineTo(cx + 5, top);
  arrow.lineTo(cx + 5, top + r.height() * 0.2);
  arrow.lineTo(cx + 13, top + r.height() * 0.2);
  arrow.lineTo(cx, top + r.height() * 0.35);
  arrow.lineTo(cx - 13, top + r.height() * 0.2);
  arrow.lineTo(cx - 5, top + r.height() * 0.2);
  arrow.closeSubpath();
  p.drawPath(arrow);
  p.restore();
}

void shadowedText(QPainter& p, const QRectF& r, int flags, const QString& text, const QFont& font,
                  const QColor& colour) {
  p.setFont(font);
  p.setPen(QColor(0, 0, 0, 110));
  p.drawText(r.translated(1.5, 1.5), flags, text);
  p.setPen(colour);
  p.drawText(r, flags, text);
}

// Tiles of the link pages share one frame.
QImage tile(const QColor& top, const QColor& bottom) {
  QImage image = canvas(140, 100);
  QPainter p(&image);
  prepare(p);
  QLinearGradient g(0, 0, 0, 100);
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  p.fillRect(image.rect(), g);
  return image;
}

void frameTile(QImage& image) {
  QPainter p(&image);
  p.setPen(QPen(QColor(0, 0, 0, 90), 1));
  p.drawRect(QRectF(0.5, 0.5, image.width() - 1, image.height() - 1));
}

}  // namespace

QImage drawBanner() {
  QImage image = canvas(484, 242);
  QPainter p(&image);
  prepare(p);
  const QRectF r(0, 0, 484, 242);
  sky(p, r);
  // A few stars in the upper sky.
  p.setPen(Qt::NoPen);
  const QPointF stars[] = {{40, 22},  {120, 14}, {210, 30}, {300, 12}, {350, 40},
                           {455, 20}, {175, 60}, {70, 70},  {420, 66}};
  for (const QPointF& s : stars) {
    p.setBrush(QColor(255, 255, 255, 150));
    p.drawEllipse(s, 1.1, 1.1);
  }
  hills(p, r);
  quill(p, QPointF(386, 222), 196, 20);
  shadowedText(p, QRectF(22, 34, 300, 60), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Quillmoss"), sans(50, QFont::Bold), Qt::white);
  shadowedText(p, QRectF(26, 92, 300, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("1.60"),
               sans(18, QFont::DemiBold), kCream);
  dropMotif(p, QRectF(214, 100, 110, 96));
  return image;
}

QImage drawBannerMark() {
  QImage image = canvas(23, 4, kAmber);
  QPainter p(&image);
  p.fillRect(QRect(0, 3, 23, 1), kAmber.darker(130));
  return image;
}

QImage drawAboutEmblem() {
  QImage image = canvas(139, 164);
  QPainter p(&image);
  prepare(p);
  const QRectF r(0, 0, 139, 164);
  sky(p, r);
  hills(p, r);
  quill(p, QPointF(92, 138), 118, 22);
  shadowedText(p, QRectF(0, 8, 139, 24), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("Quillmoss"), sans(19, QFont::Bold), Qt::white);
  shadowedText(p, QRectF(0, 30, 139, 16), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("1.60"), sans(12, QFont::DemiBold), kCream);
  p.setPen(QPen(QColor(0, 0, 0, 120), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(0.5, 0.5, 138, 163));
  return image;
}

QImage drawThanks() {
  QImage image = canvas(494, 326);
  QPainter p(&image);
  prepare(p);
  const QRectF r(0, 0, 494, 326);
  sky(p, r);
  hills(p, r);
  quill(p, QPointF(436, 316), 160, 16);
  shadowedText(p, QRectF(0, 40, 494, 70), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("Thank you!"), sans(54, QFont::Bold), Qt::white);
  QFont many = sans(17, QFont::DemiBold);
  many.setFamilies({QStringLiteral("Noto Sans"), QStringLiteral("Noto Sans CJK JP")});
  shadowedText(p, QRectF(0, 112, 494, 30), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("Danke · Merci · Gracias · Grazie · Спасибо · ありがとう"), many,
               kCream);
  // The heart that a click on the picture stands for: a gift to the project.
  QPainterPath heart(QPointF(247, 206));
  heart.cubicTo(247, 196, 232, 180, 220, 190);
  heart.cubicTo(206, 202, 222, 222, 247, 240);
  heart.cubicTo(272, 222, 288, 202, 274, 190);
  heart.cubicTo(262, 180, 247, 196, 247, 206);
  QRadialGradient red(240, 198, 40);
  red.setColorAt(0, QColor(0xf0, 0x6a, 0x5a));
  red.setColorAt(1, QColor(0xb8, 0x2c, 0x2c));
  p.setPen(QPen(QColor(0x6e, 0x16, 0x16), 1.2));
  p.setBrush(red);
  p.drawPath(heart);
  return image;
}

QImage drawEbooks() {
  QImage image = tile(QColor(0xf4, 0xef, 0xe2), QColor(0xdc, 0xd2, 0xb8));
  {
    QPainter p(&image);
    prepare(p);
    const QColor spines[] = {QColor(0x8a, 0x2f, 0x2f), kTeal, kMossDark, QColor(0x6a, 0x4a, 0x8c)};
    for (int i = 0; i < 4; ++i) {
      const QRectF book(24 + i * 6, 74 - i * 16, 92 - i * 12, 14);
      p.setPen(QPen(spines[i].darker(150), 1));
      p.setBrush(spines[i]);
      p.drawRoundedRect(book, 2, 2);
      p.setPen(QPen(kCream, 1));
      p.drawLine(QPointF(book.left() + 8, book.center().y()),
                 QPointF(book.right() - 8, book.center().y()));
    }
    // A small screen in front: these books are read on one.
    p.setPen(QPen(QColor(0x22, 0x22, 0x28), 2));
    p.setBrush(QColor(0xfa, 0xfa, 0xf6));
    p.drawRoundedRect(QRectF(96, 40, 32, 46), 4, 4);
    p.setPen(QPen(QColor(0x88, 0x88, 0x88), 1));
    for (int i = 0; i < 6; ++i) p.drawLine(QPointF(101, 48 + i * 6), QPointF(123, 48 + i * 6));
  }
  frameTile(image);
  return image;
}

QImage drawWallpapers() {
  QImage image = tile(QColor(0xe8, 0xee, 0xf2), QColor(0xc8, 0xd4, 0xdc));
  {
    QPainter p(&image);
    prepare(p);
    const QRectF screen(18, 14, 104, 64);
    p.setPen(QPen(QColor(0x22, 0x22, 0x28), 3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(screen.adjusted(-2, -2, 2, 2), 3, 3);
    p.save();
    p.setClipRect(screen);
    sky(p, screen);
    hills(p, screen);
    p.restore();
    p.fillRect(QRectF(62, 80, 16, 8), QColor(0x44, 0x44, 0x4c));
    p.fillRect(QRectF(48, 88, 44, 4), QColor(0x44, 0x44, 0x4c));
  }
  frameTile(image);
  return image;
}

QImage drawBook() {
  QImage image = tile(QColor(0xf1, 0xe9, 0xdb), QColor(0xd9, 0xc9, 0xad));
  {
    QPainter p(&image);
    prepare(p);
    const QRectF cover(44, 10, 56, 80);
    p.fillRect(cover.translated(3, 3), QColor(0, 0, 0, 60));
    QLinearGradient g(cover.topLeft(), cover.topRight());
    g.setColorAt(0, kTeal.darker(130));
    g.setColorAt(1, kTeal);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRect(cover);
    p.fillRect(QRectF(cover.left(), cover.top(), 6, cover.height()), kTeal.darker(170));
    quill(p, QPointF(78, 80), 58, 18);
  }
  frameTile(image);
  return image;
}

QImage drawProjects() {
  QImage image = tile(QColor(0xee, 0xf2, 0xe6), QColor(0xd2, 0xdc, 0xc2));
  {
    QPainter p(&image);
    prepare(p);
    // Building blocks: one project stacked on another.
    const struct {
      QRectF r;
      QColor c;
    } blocks[] = {{{20, 58, 34, 30}, kMoss},
                  {{56, 58, 34, 30}, kTeal},
                  {{92, 58, 30, 30}, kAmber},
                  {{38, 26, 34, 30}, QColor(0x8a, 0x2f, 0x2f)},
                  {{74, 26, 34, 30}, kMossDark}};
    for (const auto& b : blocks) {
      p.setPen(QPen(b.c.darker(150), 1));
      p.setBrush(b.c);
      p.drawRoundedRect(b.r, 3, 3);
      p.setBrush(b.c.lighter(125));
      p.drawEllipse(b.r.center(), 5, 5);
    }
  }
  frameTile(image);
  return image;
}
