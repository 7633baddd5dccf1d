#include "settings/QtBytes.h"

namespace qnb {

QString ToQ(const std::string& bytes) {
  const auto n = static_cast<qsizetype>(bytes.size());
  QString s = QString::fromUtf8(bytes.data(), n);
  if (s.toUtf8() == QByteArray(bytes.data(), n)) return s;
  return QString::fromLatin1(bytes.data(), n);
}

std::string FromQ(const QString& text) {
  QByteArray b = text.toUtf8();
  return std::string(b.constData(), static_cast<size_t>(b.size()));
}

}  // namespace qnb
