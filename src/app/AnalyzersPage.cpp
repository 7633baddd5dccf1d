#include "app/AnalyzersPage.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "analysis/OMAnalyze.h"
#include "app/QtText.h"
#include "app/RuleEditor.h"
#include "rules/RulePaths.h"

namespace qnb {

namespace {

constexpr int kRuleRole = Qt::UserRole + 1;

bool AskYesNo(QWidget* parent, const QString& question) {
  return QMessageBox::question(parent, QStringLiteral("Analyzers"), question) == QMessageBox::Yes;
}

bool ExecEditor(TRuleEditor& editor) { return editor.exec() == QDialog::Accepted; }

}  // namespace

QString RuleSourceText(const rules::TRule& rule) {
  QFile f(ToQ(rule.file));
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
  QStringList out;
  for (int i = rule.line - 1; i >= 0 && i < lines.size(); ++i) {
    if (i > rule.line - 1 && lines[i].trimmed().startsWith(QLatin1String("[[rule]]"))) break;
    out << lines[i];
  }
  while (!out.isEmpty() && out.back().trimmed().isEmpty()) out.removeLast();
  return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

TAnalyzersPage::TAnalyzersPage(QWidget* parent, const QString& pluginDir, const QString& userRulesDir)
    : QWidget(parent),
      Confirm(AskYesNo),
      RunEditor(ExecEditor),
      pluginDir_(pluginDir.isEmpty() ? DefaultPluginDir() : FromQ(pluginDir)),
      userDir_(userRulesDir.isEmpty() ? rules::UserRulesDir() : FromQ(userRulesDir)) {
  setObjectName(QStringLiteral("AnalyzersPage"));
  LblPlugins = new QLabel(this);
  LblPlugins->setWordWrap(true);
  LVRules = new QTreeWidget(this);
  LVRules->setObjectName(QStringLiteral("LVRules"));
  LVRules->setColumnCount(3);
  LVRules->setHeaderLabels({QStringLiteral("Service"), QStringLiteral("Rule"), QStringLiteral("Enabled")});
  LVRules->setRootIsDecorated(false);
  LVRules->setUniformRowHeights(true);
  LVRules->setSelectionMode(QAbstractItemView::SingleSelection);
  LVRules->setEditTriggers(QAbstractItemView::NoEditTriggers);
  LVRules->header()->setStretchLastSection(false);
  LVRules->header()->setSectionResizeMode(1, QHeaderView::Stretch);
  LVRules->setColumnWidth(0, 100);
  LVRules->setColumnWidth(2, 54);
  btnNew = new QPushButton(QStringLiteral("&New"), this);
  btnEdit = new QPushButton(QStringLiteral("&Edit"), this);
  btnDuplicate = new QPushButton(QStringLiteral("D&uplicate"), this);
  btnDelete = new QPushButton(QStringLiteral("&Delete"), this);
  LblProblems = new QLabel(this);
  LblProblems->setObjectName(QStringLiteral("LblProblems"));
  LblProblems->setWordWrap(true);
  LblProblems->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QPalette pal = LblProblems->palette();
  pal.setColor(QPalette::WindowText, QColor(176, 0, 32));
  LblProblems->setPalette(pal);

  auto* side = new QVBoxLayout;
  side->addWidget(btnNew);
  side->addWidget(btnEdit);
  side->addWidget(btnDuplicate);
  side->addWidget(btnDelete);
  side->addStretch(1);
  auto* listAndButtons = new QHBoxLayout;
  listAndButtons->addWidget(LVRules, 1);
  listAndButtons->addLayout(side);
  auto* v = new QVBoxLayout(this);
  v->addWidget(LblPlugins);
  v->addLayout(listAndButtons, 1);
  v->addWidget(LblProblems);

  connect(btnNew, &QPushButton::clicked, this, &TAnalyzersPage::btnNewClick);
  connect(btnEdit, &QPushButton::clicked, this, &TAnalyzersPage::btnEditClick);
  connect(btnDuplicate, &QPushButton::clicked, this, &TAnalyzersPage::btnDuplicateClick);
  connect(btnDelete, &QPushButton::clicked, this, &TAnalyzersPage::btnDeleteClick);
  connect(LVRules, &QTreeWidget::itemSelectionChanged, this, &TAnalyzersPage::UpdateButtons);
  connect(LVRules, &QTreeWidget::itemDoubleClicked, this, [this] {
    if (btnEdit->isEnabled()) btnEditClick();
  });
  Reload();
}

void TAnalyzersPage::Reload() {
  QStringList names;
  for (const auto& f : ListPluginFiles(pluginDir_)) names << ToQ(f);
  LblPlugins->setText(names.isEmpty() ? QStringLiteral("Plug-ins: none found.")
                                      : QStringLiteral("Plug-ins: ") + names.join(QStringLiteral(", ")));
  set_.Load(rules::ShippedRulesDir(pluginDir_), userDir_);
  LVRules->clear();
  for (size_t i = 0; i < set_.Rules().size(); ++i) {
    const rules::TRule& r = *set_.Rules()[i];
    auto* row = new QTreeWidgetItem(LVRules, {ToQ(r.service), ToQ(r.id) + (r.user ? QStringLiteral(" (own)") : QString()),
                                              r.enabled ? QStringLiteral("yes") : QStringLiteral("no")});
    row->setData(0, kRuleRole, static_cast<qulonglong>(i));
    row->setToolTip(1, ToQ(r.file) + QLatin1Char(':') + QString::number(r.line));
  }
  QStringList problems;
  for (const auto& e : set_.Errors()) problems << ToQ(e.Text());
  LblProblems->setText(problems.join(QLatin1Char('\n')));
  LblProblems->setVisible(!problems.isEmpty());
  UpdateButtons();
}

const rules::TRule* TAnalyzersPage::SelectedRule() const {
  const auto rows = LVRules->selectedItems();
  if (rows.isEmpty()) return nullptr;
  size_t i = rows.front()->data(0, kRuleRole).toULongLong();
  return i < set_.Rules().size() ? set_.Rules()[i].get() : nullptr;
}

void TAnalyzersPage::UpdateButtons() {
  const rules::TRule* r = SelectedRule();
  btnEdit->setEnabled(r && r->user);
  btnDelete->setEnabled(r && r->user);
  btnDuplicate->setEnabled(r != nullptr);
}

bool TAnalyzersPage::Edit(const QString& filePath, const QString& text) {
  TRuleEditor editor(this, filePath, ToQ(userDir_), text);
  bool saved = RunEditor(editor);
  Reload();
  return saved;
}

void TAnalyzersPage::btnNewClick() { Edit(QString(), NewRuleTemplate()); }

void TAnalyzersPage::btnEditClick() {
  const rules::TRule* r = SelectedRule();
  if (!r || !r->user) return;
  QFile f(ToQ(r->file));
  if (!f.open(QIODevice::ReadOnly)) return;
  Edit(ToQ(r->file), QString::fromUtf8(f.readAll()));
}

void TAnalyzersPage::btnDuplicateClick() {
  const rules::TRule* r = SelectedRule();
  if (!r) return;
  // A copy under a new id; giving it the id of a shipped rule back replaces that rule.
  QString text = RuleSourceText(*r);
  QRegularExpression id(QStringLiteral("^(\\s*id\\s*=\\s*)([\"'])([^\"']*)([\"'])"),
                        QRegularExpression::MultilineOption);
  text.replace(id, QStringLiteral("\\1\\2\\3-copy\\4"));
  Edit(QString(), text);
}

void TAnalyzersPage::btnDeleteClick() {
  const rules::TRule* r = SelectedRule();
  if (!r || !r->user) return;
  QString file = ToQ(r->file);
  if (!Confirm(this, QStringLiteral("Delete the rule file \"%1\" with all its rules?").arg(file))) return;
  QFile::remove(file);
  Reload();
}

}  // namespace qnb
