#include "app/PlainText.h"

#include <QTextDocument>

namespace qnb {

QString PlainToolTip(const QString& firstLine, const QString& rest) {
  QString head = firstLine;
  head.replace(QLatin1Char('\n'), QLatin1Char(' '));
  // Our own first line would turn the whole tip into markup if it looked like
  // some; it never should, but then the text goes as escaped markup.
  if (Qt::mightBeRichText(head)) {
    QString all = rest.isEmpty() ? head : head + QLatin1Char('\n') + rest;
    return Qt::convertFromPlainText(all, Qt::WhiteSpacePre);
  }
  return rest.isEmpty() ? head : head + QLatin1Char('\n') + rest;
}

}  // namespace qnb
