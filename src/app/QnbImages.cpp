#include "app/QnbImages.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

// Resources of a static library are registered by name; outside any namespace.
static void InitAppResources() { Q_INIT_RESOURCE(quenbell_app); }

namespace qnb {

void EnsureAppResources() {
  static const bool done = (InitAppResources(), true);
  (void)done;
}

namespace {

QList<QIcon> Icons(std::initializer_list<const char*> names) {
  QList<QIcon> list;
  for (const char* n : names) list.push_back(SvgIcon(ResourcePath(QString::fromLatin1(n))));
  return list;
}

}  // namespace

QString ResourcePath(const QString& name) {
  EnsureAppResources();
  return QStringLiteral(":/quenbell/") + name;
}

QPixmap RenderSvg(const QString& path, QSize logicalSize, qreal dpr) {
  EnsureAppResources();
  QSvgRenderer renderer(path);
  if (!renderer.isValid() || logicalSize.isEmpty()) return {};
  if (dpr <= 0) dpr = 1.0;
  QPixmap pm(logicalSize * dpr);
  pm.fill(Qt::transparent);
  {
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    renderer.render(&p);
  }
  pm.setDevicePixelRatio(dpr);
  return pm;
}

QIcon SvgIcon(const QString& path) {
  QIcon icon;
  // Real pixels for each size, so that a 2x panel gets a sharp 32 x 32 image
  // rather than a scaled-up 16 x 16 one.
  for (int s : {16, 20, 24, 32, 40, 48, 64}) {
    QPixmap pm = RenderSvg(path, QSize(s, s));
    if (!pm.isNull()) icon.addPixmap(pm);
  }
  return icon;
}

TImageList MakeImgListCheck() {
  return TImageList(Icons({"tray/check0.svg", "tray/check1.svg", "tray/check2.svg", "tray/check3.svg",
                           "tray/check4.svg"}));
}

TImageList MakeImgListNewNotify() { return TImageList(Icons({"tray/new0.svg", "tray/new1.svg"})); }

TImageList MakeImgListOrder() { return TImageList(Icons({"tray/order.svg"})); }

QIcon StoredTrayIcon() { return SvgIcon(ResourcePath(QStringLiteral("tray/stored.svg"))); }

QIcon AppIcon() {
  QIcon icon;
  const QString small = ResourcePath(QStringLiteral("quenbell-small.svg"));
  const QString large = ResourcePath(QStringLiteral("quenbell.svg"));
  // The small drawing stays legible where the full one turns to mush.
  for (int s : {16, 22, 24}) icon.addPixmap(RenderSvg(small, QSize(s, s)));
  for (int s : {32, 48, 64, 128, 256}) icon.addPixmap(RenderSvg(large, QSize(s, s)));
  return icon;
}

}  // namespace qnb
