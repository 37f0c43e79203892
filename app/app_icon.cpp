#include "app/app_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace qm::app {

QIcon AppIcon() {
  // Drawn here rather than through Qt's SVG icon plug-in, which a system may lack: the icon then
  // needs only the library the program links.
  QSvgRenderer renderer(QStringLiteral(":/icons/qm7410-monitor.svg"));
  QIcon icon;
  if (!renderer.isValid()) return icon;
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace qm::app
