#include "app/fmAbout.h"

#include <QGuiApplication>
#include <QScreen>
#include <QUrl>

#include <cstdlib>

#include "app/ClickLabel.h"
#include "app/QnbImages.h"
#include "app/QnbVersion.h"
#include "app/ShellOpen.h"

namespace qnb {

bool GetBuildInfo(uint16_t& V1, uint16_t& V2, uint16_t& V3, uint16_t& V4) {
  // The version is compiled in from the build; there is no resource to read.
  constexpr long parts[] = {QNB_VERSION_MAJOR, QNB_VERSION_MINOR, QNB_VERSION_PATCH, QNB_VERSION_TWEAK};
  static_assert(parts[0] >= 0 && parts[0] <= 0xFFFF && parts[1] >= 0 && parts[1] <= 0xFFFF && parts[2] >= 0 &&
                    parts[2] <= 0xFFFF && parts[3] >= 0 && parts[3] <= 0xFFFF,
                "each version number must fit 16 bits");
  V1 = static_cast<uint16_t>(parts[0]);
  V2 = static_cast<uint16_t>(parts[1]);
  V3 = static_cast<uint16_t>(parts[2]);
  V4 = static_cast<uint16_t>(parts[3]);
  return true;
}

namespace {

constexpr int kWidth = 350;
constexpr int kHeight = 233;

QLabel* TextLabel(QLabel* l, int x, int y, int w) {
  l->setGeometry(x, y, w, 18);
  l->setTextFormat(Qt::PlainText);
  l->setStyleSheet(QStringLiteral("color: #1C3F7A; background: transparent;"));
  return l;
}

TClickLabel* LinkLabel(TClickLabel* l, int x, int y, int w) {
  TextLabel(l, x, y, w);
  l->setCursor(Qt::PointingHandCursor);
  l->setStyleSheet(QStringLiteral("color: #1D5FD1; text-decoration: underline; background: transparent;"));
  return l;
}

}  // namespace

TFormAbout::TFormAbout(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("FormAbout"));
  setWindowTitle(QStringLiteral("About Quenbell"));
  setFixedSize(kWidth, kHeight);

  Image1 = new TClickLabel(this);
  Image1->setGeometry(0, 0, kWidth, kHeight);
  Image1->setPixmap(RenderSvg(ResourcePath(QStringLiteral("about.svg")), QSize(kWidth, kHeight),
                              devicePixelRatioF()));
  connect(Image1, &TClickLabel::clicked, this, &TFormAbout::Image1Click);

  LabelVersion = TextLabel(new QLabel(QStringLiteral("Version 1.0"), this), 110, 84, 220);
  LabelVersion->setStyleSheet(QStringLiteral("color: #FFFFFF; background: transparent;"));
  Label6 = TextLabel(new QLabel(QStringLiteral("Website:"), this), 28, 146, 70);
  Label4 = LinkLabel(new TClickLabel(QString::fromLatin1(kHomepage), this), 100, 146, 230);
  Label1 = TextLabel(new QLabel(QStringLiteral("Mail:"), this), 28, 172, 70);
  Label2 = LinkLabel(new TClickLabel(QString::fromLatin1(kSupportMail), this), 100, 172, 230);
  connect(Label4, &TClickLabel::clicked, this, &TFormAbout::Label4Click);
  connect(Label2, &TClickLabel::clicked, this, &TFormAbout::Label5Click);

  if (QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen()) {
    const QRect desk = screen->geometry();
    move(desk.x() + (desk.width() - kWidth) / 2, desk.y() + (desk.height() - kHeight) / 2);
  }
  FormCreate();
}

void TFormAbout::FormCreate() {
  uint16_t v1 = 0, v2 = 0, v3 = 0, v4 = 0;
  if (GetBuildInfo(v1, v2, v3, v4))
    LabelVersion->setText(QStringLiteral("Version %1.%2.%3.%4").arg(v1).arg(v2).arg(v3).arg(v4));
}

void TFormAbout::Label4Click() { ShellOpen(QUrl(QString::fromLatin1(kHomepage))); }

void TFormAbout::Label5Click() { ShellOpen(QUrl(QStringLiteral("mailto:") + QString::fromLatin1(kSupportMail))); }

void TFormAbout::Image1Click() { reject(); }

}  // namespace qnb
