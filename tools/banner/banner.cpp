// Draws the 484 x 242 banner of the extraction window: an opened archive crate
// whose files fly along an arc into a folder, under the program's name.
// Usage: banner OUTPUT.jpg  (run with QT_QPA_PLATFORM=offscreen on a machine without display)
#include <cmath>

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

namespace {

constexpr int kWidth = 484;
constexpr int kHeight = 242;

void drawBackground(QPainter& p) {
  QLinearGradient sky(0, 0, 0, kHeight);
  sky.setColorAt(0.0, QColor(0x17, 0x3d, 0x2f));
  sky.setColorAt(1.0, QColor(0x3b, 0x74, 0x55));
  p.fillRect(0, 0, kWidth, kHeight, sky);
  QRadialGradient glow(QPointF(kWidth * 0.55, kHeight * 0.62), kWidth * 0.45);
  glow.setColorAt(0.0, QColor(255, 246, 214, 90));
  glow.setColorAt(1.0, QColor(255, 246, 214, 0));
  p.fillRect(0, 0, kWidth, kHeight, glow);
  // Soft moss along the bottom edge.
  QPainterPath hill;
  hill.moveTo(0, kHeight);
  hill.lineTo(0, 222);
  hill.cubicTo(120, 200, 300, 236, kWidth, 212);
  hill.lineTo(kWidth, kHeight);
  hill.closeSubpath();
  p.fillPath(hill, QColor(0x24, 0x55, 0x3c));
}

void drawCrate(QPainter& p, const QRectF& body) {
  p.setPen(QPen(QColor(0x4a, 0x2e, 0x14), 2.5));
  QLinearGradient wood(body.topLeft(), body.bottomRight());
  wood.setColorAt(0.0, QColor(0xd9, 0xa4, 0x62));
  wood.setColorAt(1.0, QColor(0xa8, 0x6c, 0x33));
  p.setBrush(wood);
  p.drawRoundedRect(body, 6, 6);
  // Planks and a strap.
  p.setPen(QPen(QColor(0x7a, 0x4b, 0x20, 160), 1.5));
  for (int i = 1; i < 3; ++i) {
    const qreal y = body.top() + body.height() * i / 3.0;
    p.drawLine(QPointF(body.left() + 4, y), QPointF(body.right() - 4, y));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x3c, 0x2a, 0x1e));
  p.drawRect(QRectF(body.center().x() - 9, body.top(), 18, body.height()));
  // Label.
  const QRectF label(body.center().x() - 30, body.center().y() - 13, 60, 26);
  p.setBrush(QColor(0xfb, 0xf4, 0xe2));
  p.setPen(QPen(QColor(0x4a, 0x2e, 0x14), 1.5));
  p.drawRoundedRect(label, 4, 4);
  QFont font(QStringLiteral("DejaVu Sans"), 12, QFont::Black);
  p.setFont(font);
  p.setPen(QColor(0x8a, 0x1f, 0x1f));
  p.drawText(label, Qt::AlignCenter, QStringLiteral("RAR"));
  // The lid, swung open to the left.
  p.save();
  p.translate(body.left(), body.top());
  p.rotate(-20);
  QLinearGradient lidWood(0, -16, 0, 0);
  lidWood.setColorAt(0.0, QColor(0xe4, 0xb3, 0x74));
  lidWood.setColorAt(1.0, QColor(0xb7, 0x7a, 0x3c));
  p.setBrush(lidWood);
  p.setPen(QPen(QColor(0x4a, 0x2e, 0x14), 2.5));
  p.drawRoundedRect(QRectF(-2, -16, body.width() + 4, 16), 4, 4);
  p.restore();
}

void drawSheet(QPainter& p, const QPointF& centre, qreal angle, const QColor& tint) {
  p.save();
  p.translate(centre);
  p.rotate(angle);
  const qreal w = 30, h = 38, fold = 9;
  QPainterPath sheet;
  sheet.moveTo(-w / 2, -h / 2);
  sheet.lineTo(w / 2 - fold, -h / 2);
  sheet.lineTo(w / 2, -h / 2 + fold);
  sheet.lineTo(w / 2, h / 2);
  sheet.lineTo(-w / 2, h / 2);
  sheet.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 50));
  p.drawPath(sheet.translated(2.5, 3));
  p.setPen(QPen(QColor(0x5b, 0x66, 0x70), 1.2));
  p.setBrush(QColor(0xff, 0xff, 0xfc));
  p.drawPath(sheet);
  QPainterPath corner;
  corner.moveTo(w / 2 - fold, -h / 2);
  corner.lineTo(w / 2 - fold, -h / 2 + fold);
  corner.lineTo(w / 2, -h / 2 + fold);
  p.setBrush(QColor(0xdd, 0xe3, 0xe8));
  p.drawPath(corner);
  p.setPen(QPen(tint, 2.2, Qt::SolidLine, Qt::RoundCap));
  for (int i = 0; i < 4; ++i) {
    const qreal y = -h / 2 + 12 + i * 6.5;
    const qreal right = (i == 3) ? 2 : w / 2 - 5;
    p.drawLine(QPointF(-w / 2 + 5, y), QPointF(right, y));
  }
  p.restore();
}

void drawFolder(QPainter& p, const QRectF& r) {
  p.setPen(QPen(QColor(0x7a, 0x52, 0x05), 2.2));
  QLinearGradient back(r.topLeft(), r.bottomLeft());
  back.setColorAt(0.0, QColor(0xf2, 0xb8, 0x3a));
  back.setColorAt(1.0, QColor(0xc9, 0x8a, 0x14));
  p.setBrush(back);
  QPainterPath tabbed;
  tabbed.moveTo(r.left(), r.top() + 12);
  tabbed.lineTo(r.left(), r.top() + 4);
  tabbed.quadTo(r.left(), r.top(), r.left() + 4, r.top());
  tabbed.lineTo(r.left() + 42, r.top());
  tabbed.lineTo(r.left() + 52, r.top() + 12);
  tabbed.lineTo(r.right(), r.top() + 12);
  tabbed.lineTo(r.right(), r.bottom());
  tabbed.lineTo(r.left(), r.bottom());
  tabbed.closeSubpath();
  p.drawPath(tabbed);
  // Papers already inside.
  p.setPen(QPen(QColor(0x8b, 0x95, 0x9e), 1));
  p.setBrush(QColor(0xfa, 0xfa, 0xf5));
  p.drawRect(QRectF(r.left() + 12, r.top() + 18, r.width() - 30, 30));
  p.drawRect(QRectF(r.left() + 20, r.top() + 14, r.width() - 34, 30));
  // Front flap, tilted open.
  QLinearGradient front(r.topLeft(), r.bottomLeft());
  front.setColorAt(0.0, QColor(0xff, 0xd2, 0x5e));
  front.setColorAt(1.0, QColor(0xe3, 0x9e, 0x1c));
  p.setBrush(front);
  p.setPen(QPen(QColor(0x7a, 0x52, 0x05), 2.2));
  QPainterPath flap;
  flap.moveTo(r.left() - 10, r.top() + 34);
  flap.lineTo(r.right() - 6, r.top() + 34);
  flap.lineTo(r.right(), r.bottom());
  flap.lineTo(r.left(), r.bottom());
  flap.closeSubpath();
  p.drawPath(flap);
}

void drawArc(QPainter& p, const QPointF& from, const QPointF& via, const QPointF& to) {
  QPainterPath arc;
  arc.moveTo(from);
  arc.quadTo(via, to);
  p.setPen(QPen(QColor(255, 255, 255, 170), 2.4, Qt::DashLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawPath(arc);
  // Arrow head along the arc's last direction.
  const QPointF dir = to - via;
  const qreal angle = std::atan2(dir.y(), dir.x());
  const qreal len = 12;
  QPolygonF head;
  head << to << to - QPointF(std::cos(angle - 0.45) * len, std::sin(angle - 0.45) * len)
       << to - QPointF(std::cos(angle + 0.45) * len, std::sin(angle + 0.45) * len);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 210));
  p.drawPolygon(head);
}

void drawTitle(QPainter& p) {
  QFont title(QStringLiteral("DejaVu Sans"), 27, QFont::Bold);
  p.setFont(title);
  p.setPen(QColor(0, 0, 0, 90));
  p.drawText(QRectF(2, 10, kWidth, 44), Qt::AlignHCenter | Qt::AlignVCenter,
             QStringLiteral("Quillmoss"));
  p.setPen(QColor(0xfb, 0xf7, 0xea));
  p.drawText(QRectF(0, 8, kWidth, 44), Qt::AlignHCenter | Qt::AlignVCenter,
             QStringLiteral("Quillmoss"));
  QFont sub(QStringLiteral("DejaVu Sans"), 10);
  p.setFont(sub);
  p.setPen(QColor(0xd7, 0xec, 0xd9));
  p.drawText(QRectF(0, 50, kWidth, 20), Qt::AlignHCenter | Qt::AlignVCenter,
             QStringLiteral("RAR archives unpacked, right where they are"));
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    QTextStream(stderr) << "usage: banner OUTPUT.jpg\n";
    return 2;
  }
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  drawBackground(p);
  drawTitle(p);
  drawCrate(p, QRectF(52, 128, 118, 78));
  drawFolder(p, QRectF(330, 126, 108, 80));
  drawArc(p, QPointF(158, 122), QPointF(252, 64), QPointF(352, 138));
  drawSheet(p, QPointF(190, 110), -18, QColor(0x3b, 0x74, 0x55));
  drawSheet(p, QPointF(250, 100), 6, QColor(0x8a, 0x1f, 0x1f));
  drawSheet(p, QPointF(308, 112), 24, QColor(0x2f, 0x5d, 0x8a));
  p.end();
  if (!image.save(QString::fromLocal8Bit(argv[1]), "JPG", 90)) {
    QTextStream(stderr) << "cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
