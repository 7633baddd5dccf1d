#include "app/RuleEditor.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <fstream>
#include <iterator>

#include "app/QtText.h"
#include "rules/RuleEngine.h"
#include "rules/RuleFile.h"

namespace qnb {

namespace {

std::optional<QString> ChooseMailFile(QWidget* parent) {
  QString f = QFileDialog::getOpenFileName(parent, QStringLiteral("Open mail"), QString(),
                                           QStringLiteral("Mail files (*.eml);;All files (*)"));
  if (f.isEmpty()) return std::nullopt;
  return f;
}

// UTF-16 length of the first n bytes of a UTF-8 text.
int Units(const std::string& s, size_t n) {
  return static_cast<int>(QString::fromUtf8(s.data(), static_cast<qsizetype>(std::min(n, s.size()))).size());
}

}  // namespace

QString NewRuleTemplate() {
  return QStringLiteral(
      "[[rule]]\n"
      "id = \"my-shop-sale\"\n"
      "service = \"My Shop\"\n"
      "from = \"shop.example.com\"\n"
      "subject = '^New order'\n"
      "\n"
      "[rule.fields]\n"
      "OrderID = 'Order #(\\d+)'\n"
      "Amount = 'Total:\\s*(.+)'\n"
      "Email = '([\\w.+-]+@[\\w-]+\\.[\\w.-]+)'\n");
}

TRuleEditor::TRuleEditor(QWidget* parent, const QString& filePath, const QString& userDir, const QString& text)
    : QDialog(parent), ChooseMail(ChooseMailFile), filePath_(filePath), userDir_(userDir) {
  setObjectName(QStringLiteral("RuleEditor"));
  setWindowTitle(filePath.isEmpty() ? QStringLiteral("New rule") : QStringLiteral("Rule - ") + QFileInfo(filePath).fileName());
  resize(900, 600);

  EditRule = new QPlainTextEdit(this);
  EditRule->setObjectName(QStringLiteral("EditRule"));
  EditRule->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont mono(QStringLiteral("monospace"));
  mono.setStyleHint(QFont::Monospace);
  EditRule->setFont(mono);
  LblStatus = new QLabel(this);
  LblStatus->setObjectName(QStringLiteral("LblStatus"));
  LblStatus->setWordWrap(true);
  LblStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);

  btnOpenMail = new QPushButton(QStringLiteral("Open &mail..."), this);
  MailView = new QTextEdit(this);
  MailView->setObjectName(QStringLiteral("MailView"));
  MailView->setReadOnly(true);
  MailView->setPlaceholderText(QStringLiteral("Open a mail (.eml) to see its text and what the rule finds in it."));
  LVFields = new QTreeWidget(this);
  LVFields->setObjectName(QStringLiteral("LVFields"));
  LVFields->setColumnCount(2);
  LVFields->setHeaderLabels({QStringLiteral("Field"), QStringLiteral("Value")});
  LVFields->setRootIsDecorated(false);
  LVFields->header()->setStretchLastSection(true);

  auto* left = new QWidget(this);
  auto* l = new QVBoxLayout(left);
  l->setContentsMargins(0, 0, 0, 0);
  l->addWidget(new QLabel(QStringLiteral("Rule (TOML):"), left));
  l->addWidget(EditRule, 1);
  l->addWidget(LblStatus);
  auto* right = new QSplitter(Qt::Vertical, this);
  auto* mailBox = new QWidget(right);
  auto* m = new QVBoxLayout(mailBox);
  m->setContentsMargins(0, 0, 0, 0);
  auto* mailBar = new QHBoxLayout;
  mailBar->addWidget(new QLabel(QStringLiteral("Decoded mail:"), mailBox));
  mailBar->addStretch(1);
  mailBar->addWidget(btnOpenMail);
  m->addLayout(mailBar);
  m->addWidget(MailView, 1);
  right->addWidget(mailBox);
  right->addWidget(LVFields);
  auto* split = new QSplitter(Qt::Horizontal, this);
  split->addWidget(left);
  split->addWidget(right);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);

  btnSave = new QPushButton(QStringLiteral("&Save"), this);
  btnSave->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnSave);
  buttons->addWidget(btnCancel);
  auto* main = new QVBoxLayout(this);
  main->addWidget(split, 1);
  main->addLayout(buttons);

  timer_ = new QTimer(this);
  timer_->setSingleShot(true);
  timer_->setInterval(250);
  connect(timer_, &QTimer::timeout, this, &TRuleEditor::Evaluate);
  connect(EditRule, &QPlainTextEdit::textChanged, timer_, qOverload<>(&QTimer::start));
  connect(btnOpenMail, &QPushButton::clicked, this, &TRuleEditor::btnOpenMailClick);
  connect(btnSave, &QPushButton::clicked, this, &TRuleEditor::btnSaveClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  EditRule->setPlainText(text);
  Evaluate();
}

bool TRuleEditor::LoadMail(const QString& path) {
  std::ifstream f(FromQ(path), std::ios::binary);
  if (!f) {
    LblStatus->setText(QStringLiteral("Cannot read \"%1\".").arg(path));
    return false;
  }
  source_.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  mail_ = rules::DecodeMail(source_);
  haveMail_ = true;
  ShowMail();
  Evaluate();
  return true;
}

void TRuleEditor::ShowMail() {
  // Sections in the order the rules look: subject, plain text, HTML made text.
  QString view = QStringLiteral("Subject: ");
  subjectAt_ = static_cast<int>(view.size());
  view += ToQ(mail_.subject) + QStringLiteral("\nFrom: ") + ToQ(mail_.from) + QStringLiteral("\n\n== text part ==\n");
  textAt_ = static_cast<int>(view.size());
  view += ToQ(mail_.text) + QStringLiteral("\n\n== HTML part as text ==\n");
  htmlAt_ = static_cast<int>(view.size());
  view += ToQ(mail_.html);
  MailView->setPlainText(view);
}

void TRuleEditor::Evaluate() {
  const std::string text = FromQ(EditRule->toPlainText());
  const std::string name = filePath_.isEmpty() ? std::string("new rule") : FromQ(QFileInfo(filePath_).fileName());
  rules::TRuleFileResult r = rules::ParseRuleText(text, name, true);
  QStringList status;
  for (const auto& e : r.errors) status << QStringLiteral("Line %1: %2").arg(e.line).arg(ToQ(e.message));

  LVFields->clear();
  QList<QTextEdit::ExtraSelection> marks;
  if (haveMail_ && !r.rules.empty()) {
    rules::TRuleSet set;
    set.Assign({}, r.rules);
    const rules::TRule* claimed = set.Claim(source_);
    const rules::TRule& rule = claimed ? *claimed : *r.rules.front();
    TOriginData od{};
    rules::TParseReport report;
    bool parsed = rules::TRuleSet::Parse(rule, mail_, od, &report);
    if (!claimed)
      status << QStringLiteral("No rule claims this mail (check from, subject and headers); the fields of \"%1\" are shown.")
                    .arg(ToQ(rule.id));
    else if (parsed)
      status << QStringLiteral("Rule \"%1\" claims and parses this mail.").arg(ToQ(rule.id));
    if (!parsed) status << ToQ(report.reason);
    QTextCharFormat fmt;
    fmt.setBackground(QColor(255, 226, 120));
    for (const auto& hit : report.hits) {
      auto* row = new QTreeWidgetItem(LVFields, {ToQ(hit.field), ToQ(hit.value)});
      row->setToolTip(1, QStringLiteral("entry %1, %2").arg(hit.entry).arg(QString::fromLatin1(rules::SourceName(hit.source))));
      int base = -1;
      const std::string* section = nullptr;
      if (hit.source == rules::TSource::Subject) {
        base = subjectAt_;
        section = &mail_.subject;
      } else if (hit.source == rules::TSource::Text || (hit.source == rules::TSource::Body && !hit.inHtml)) {
        base = textAt_;
        section = &mail_.text;
      } else if (hit.source == rules::TSource::Html || hit.source == rules::TSource::Body) {
        base = htmlAt_;
        section = &mail_.html;
      }
      if (!section || hit.end <= hit.start) continue;
      QTextEdit::ExtraSelection sel;
      sel.cursor = QTextCursor(MailView->document());
      sel.cursor.setPosition(base + Units(*section, hit.start));
      sel.cursor.setPosition(base + Units(*section, hit.end), QTextCursor::KeepAnchor);
      sel.format = fmt;
      marks << sel;
    }
  } else if (!haveMail_ && r.errors.empty()) {
    status << QStringLiteral("The rule is valid. Open a mail to try it.");
  }
  MailView->setExtraSelections(marks);
  LblStatus->setText(status.join(QLatin1Char('\n')));
  QPalette pal = LblStatus->palette();
  pal.setColor(QPalette::WindowText, r.errors.empty() ? palette().color(QPalette::WindowText) : QColor(176, 0, 32));
  LblStatus->setPalette(pal);
}

bool TRuleEditor::Save() {
  const std::string text = FromQ(EditRule->toPlainText());
  rules::TRuleFileResult r = rules::ParseRuleText(text, "rule", true);
  if (!r.errors.empty() || r.rules.empty()) {
    Evaluate();
    LblStatus->setText(LblStatus->text() + QStringLiteral("\nNot saved: the rule file has faults."));
    return false;
  }
  QString path = filePath_;
  if (path.isEmpty()) {
    path = QDir(userDir_).filePath(ToQ(r.rules.front()->id) + QStringLiteral(".toml"));
    if (QFileInfo::exists(path)) {
      LblStatus->setText(QStringLiteral("Not saved: \"%1\" exists already; give the rule another id.").arg(path));
      return false;
    }
  }
  QDir().mkpath(QFileInfo(path).absolutePath());
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(text.data(), static_cast<qint64>(text.size())) < 0 || !f.commit()) {
    LblStatus->setText(QStringLiteral("Not saved: cannot write \"%1\".").arg(path));
    return false;
  }
  filePath_ = path;
  return true;
}

void TRuleEditor::btnOpenMailClick() {
  if (auto path = ChooseMail(this)) LoadMail(*path);
}

void TRuleEditor::btnSaveClick() {
  if (Save()) accept();
}

}  // namespace qnb
