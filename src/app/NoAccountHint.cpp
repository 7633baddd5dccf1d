#include "app/NoAccountHint.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace qnb {

TNoAccountHint::TNoAccountHint(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("NoAccountHint"));
  lblHint = new QLabel(QStringLiteral("No mail account is set up yet. Add the mailbox your payment mails arrive in: "
                                      "Quenbell then checks it for new payments."),
                       this);
  lblHint->setTextFormat(Qt::PlainText);
  lblHint->setWordWrap(true);
  btnAddAccount = new QPushButton(QStringLiteral("Add Mail Account..."), this);
  btnAddAccount->setObjectName(QStringLiteral("btnAddAccount"));
  auto* h = new QHBoxLayout(this);
  h->setContentsMargins(8, 6, 8, 6);
  h->addWidget(lblHint, 1);
  h->addWidget(btnAddAccount);
  connect(btnAddAccount, &QPushButton::clicked, this, &TNoAccountHint::addAccount);
}

}  // namespace qnb
