#include "app/SpinEdit.h"

#include <QLineEdit>

#include <algorithm>

namespace qnb {

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent) {
  // Keeps the text as typed until the box is left.
  setKeyboardTracking(false);
  setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

int TSpinEdit::Clamp(const QString& text) const {
  bool ok = false;
  const qlonglong v = text.trimmed().toLongLong(&ok);
  if (!ok) return minimum();
  return static_cast<int>(std::clamp<qlonglong>(v, minimum(), maximum()));
}

int TSpinEdit::CheckedValue() const { return Clamp(cleanText()); }

void TSpinEdit::SetCheckedValue(long long value) {
  setValue(static_cast<int>(std::clamp<long long>(value, minimum(), maximum())));
}

QValidator::State TSpinEdit::validate(QString& input, int&) const {
  for (QChar c : input)
    if ((c < QLatin1Char('0') || c > QLatin1Char('9')) && c != QLatin1Char('-')) return QValidator::Invalid;
  bool ok = false;
  const qlonglong v = input.toLongLong(&ok);
  return ok && v >= minimum() && v <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
}

void TSpinEdit::fixup(QString& input) const { input = QString::number(Clamp(input)); }

int TSpinEdit::valueFromText(const QString& text) const { return Clamp(text); }

}  // namespace qnb
