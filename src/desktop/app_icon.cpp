#include "desktop/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace qv::desktop {

QIcon MakeAppIcon() {
  QIcon icon;
  for (int size : {16, 22, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 16.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 250, 250));
    p.drawRoundedRect(QRectF(1 * unit, 2 * unit, 14 * unit, 13 * unit), unit, unit);
    p.setBrush(QColor(40, 110, 190));
    p.drawRect(QRectF(1 * unit, 2 * unit, 14 * unit, 4 * unit));
    p.setBrush(QColor(60, 60, 60));
    for (int row = 0; row < 2; ++row) {
      for (int col = 0; col < 3; ++col) {
        p.drawRect(QRectF((3 + col * 4) * unit, (8 + row * 3.5) * unit, 2 * unit, 2 * unit));
      }
    }
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace qv::desktop
