#pragma once
// The about box: a borderless picture with the version, the homepage and the
// support address on it; a click on the picture closes it.

#include <QDialog>

#include <cstdint>

class QLabel;

namespace qnb {

class TClickLabel;

inline constexpr const char* kHomepage = "https://quenbell.example.com";
inline constexpr const char* kSupportMail = "support@quenbell.example.com";

// The four numbers of the program's version; false when it has none (then all 0).
bool GetBuildInfo(uint16_t& V1, uint16_t& V2, uint16_t& V3, uint16_t& V4);

class TFormAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TFormAbout(QWidget* owner = nullptr);

  TClickLabel* Image1;
  QLabel* LabelVersion;
  QLabel* Label6;
  TClickLabel* Label4;
  QLabel* Label1;
  TClickLabel* Label2;

  void FormCreate();

 public slots:
  void Label4Click();
  void Label5Click();
  void Image1Click();
};

}  // namespace qnb
