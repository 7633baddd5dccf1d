#pragma once
// A number box with spin buttons that behaves like a plain edit while typing:
// it takes digits and the minus sign, whatever value they make, and brings the
// value into its range only when it is read or when the box is left.

#include <QSpinBox>

namespace qnb {

class TSpinEdit : public QSpinBox {
  Q_OBJECT
 public:
  explicit TSpinEdit(QWidget* parent = nullptr);

  // The text as an integer brought into the range; the minimum when the text
  // is no integer.
  int CheckedValue() const;
  // Sets the text to a value brought into the range.
  void SetCheckedValue(long long value);

 protected:
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;
  int valueFromText(const QString& text) const override;

 private:
  int Clamp(const QString& text) const;
};

}  // namespace qnb
