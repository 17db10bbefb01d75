// The CD window's icon, drawn here rather than shipped as a picture.
#include <QFont>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "ui/cd_window.h"

namespace plimra::ui {

namespace {

// An eighth note with its stem to the right, head centred at (x, y).
void drawNote(QPainter& p, double x, double y, double scale) {
  p.save();
  p.translate(x, y);
  p.scale(scale, scale);
  p.rotate(-20);
  p.drawEllipse(QRectF(-2.2, -1.5, 4.4, 3.0));
  p.restore();
  p.save();
  p.translate(x, y);
  p.scale(scale, scale);
  p.drawRect(QRectF(1.6, -8.5, 0.9, 8.5));
  QPainterPath flag;
  flag.moveTo(2.5, -8.5);
  flag.cubicTo(3.5, -6.5, 6.0, -6.0, 4.5, -3.0);
  flag.cubicTo(5.0, -5.0, 3.5, -6.0, 2.5, -6.0);
  flag.closeSubpath();
  p.drawPath(flag);
  p.restore();
}

QPixmap cdPixmap(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);

  // The disc: four quarters, white, yellow, white and cyan.
  const QRectF disc(2, 2, 28, 28);
  const QColor quarters[4] = {Qt::yellow, Qt::white, Qt::cyan, Qt::white};
  p.setPen(Qt::NoPen);
  for (int q = 0; q < 4; ++q) {
    p.setBrush(quarters[q]);
    p.drawPie(disc, q * 90 * 16, 90 * 16);
  }
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::darkGray, 1.0));
  p.drawEllipse(disc);
  // The hole.
  p.setBrush(Qt::lightGray);
  p.drawEllipse(QPointF(16, 16), 3.5, 3.5);
  p.setBrush(Qt::white);
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPointF(16, 16), 1.5, 1.5);

  // The letters, below the hole.
  QFont f(QStringLiteral("Sans"));
  f.setPixelSize(9);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::darkBlue);
  p.drawText(QRectF(6, 19, 20, 10), Qt::AlignCenter, QStringLiteral("CD"));

  // Red notes above it.
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::red);
  drawNote(p, 9.5, 13.0, 1.0);
  drawNote(p, 21.0, 11.0, 1.0);
  return pm;
}

}  // namespace

QIcon cdIcon() {
  QIcon icon;
  icon.addPixmap(cdPixmap(32));
  icon.addPixmap(cdPixmap(64));  // sharp on high-dpi screens
  return icon;
}

}  // namespace plimra::ui
