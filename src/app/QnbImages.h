#pragma once
// The program's own pictures: the tray image lists, the stored tray icon, the
// application icon and the backgrounds of the pop-up and the about box. All are
// SVG resources, rendered at the sizes and pixel ratios asked for.

#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace qnb {

// A fixed list of same-sized images.
class TImageList {
 public:
  TImageList() = default;
  explicit TImageList(QList<QIcon> images) : FImages(std::move(images)) {}
  int Count() const { return static_cast<int>(FImages.size()); }
  // An empty icon outside 0..Count()-1.
  QIcon Image(int index) const { return index >= 0 && index < Count() ? FImages[index] : QIcon(); }

 private:
  QList<QIcon> FImages;
};

// 5 images, a ringing bell, shown while a check runs; the first one is the
// resting icon after a check without new payments.
TImageList MakeImgListCheck();
// 2 images blinking after new payments.
TImageList MakeImgListNewNotify();
// 1 image on every row of the payment list.
TImageList MakeImgListOrder();
// The tray icon shown until a list is set.
QIcon StoredTrayIcon();
// The window icon.
QIcon AppIcon();

// Registers the pictures and skin images built into the library (the skin's
// style sheet refers to some); done by every function here as well.
void EnsureAppResources();
// Resource path of one of the pictures, e.g. ResourcePath("popup.svg").
QString ResourcePath(const QString& name);
// Renders an SVG at a logical size for a device pixel ratio; a null pixmap when
// the file cannot be read.
QPixmap RenderSvg(const QString& path, QSize logicalSize, qreal dpr = 1.0);
// An icon from one SVG with pixmaps for the usual sizes up to 4x of 16.
QIcon SvgIcon(const QString& path);

}  // namespace qnb
