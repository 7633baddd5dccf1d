#include "app/fmOptions.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/AnalyzersPage.h"
#include "app/QtText.h"
#include "app/Skin.h"
#include "app/AccountStateColumn.h"
#include "app/SpinEdit.h"
#include "app/fmMailAccount.h"
#include "settings/VrDiag.h"

namespace qnb {

TFormOptions* FormOptions = nullptr;

namespace {

const char* const kDuplicateName = "Duplicate mail account name.";

// A row of LVAccounts: it owns its copy of the account until OK hands it over.
class TAccountRow : public QTreeWidgetItem {
 public:
  static constexpr int kType = QTreeWidgetItem::UserType + 1;
  TAccountRow(std::unique_ptr<TMailAccount> account, const TAccountStateBook& states)
      : QTreeWidgetItem(kType), Data(std::move(account)), States(states) {
    Show();
  }
  void Show() {
    setText(0, ToQ(Data->Name));
    setText(1, ToQ(Data->Host));
    ShowAccountState(*this, 2, States.Find(Data->Name));
  }
  std::unique_ptr<TMailAccount> Data;
  const TAccountStateBook& States;
};

}  // namespace

std::optional<QString> ChooseMailProgram(QWidget* parent) {
  QFileDialog dialog(parent);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
#ifdef Q_OS_WIN
  dialog.setNameFilter(QStringLiteral("Exe Files, (*.exe)"));
  dialog.setDefaultSuffix(QStringLiteral("exe"));
#else
  // Programs here carry no suffix; offer every file.
  dialog.setNameFilter(QStringLiteral("Programs (*)"));
#endif
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

TFormOptions::TFormOptions(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      OpenDialog1(ChooseMailProgram) {
  FormOptions = this;
  setObjectName(QStringLiteral("FormOptions"));
  setWindowTitle(QStringLiteral("Options"));
  setFixedSize(384, 330);  // room for the payment options

  PageControl = new QTabWidget(this);

  // General
  auto* general = new QWidget;
  CBRunWhenStart = new QCheckBox(QStringLiteral("Run when Windows starts up."), general);
  CBMinWhenStart = new QCheckBox(QStringLiteral("Minimize to system tray when starts up."), general);
  CBCheckOnSchedule = new QCheckBox(QStringLiteral("Check for new payment every "), general);
  SPECheckTime = new TSpinEdit(general);
  SPECheckTime->setRange(1, 99999);
  SPECheckTime->setSingleStep(1);
  SPECheckTime->setMinimumWidth(76);
  auto* lblMinutes = new QLabel(QStringLiteral("minutes."), general);
  CBCheckWhenOpen = new QCheckBox(QStringLiteral("Check for new payment when opening quenbell."), general);
  CBRememberPayments = new QCheckBox(QStringLiteral("Remember payments between starts"), general);
  CBDesktopNotify = new QCheckBox(QStringLiteral("Also show a desktop notification"), general);
  auto* lblMailProgram = new QLabel(QStringLiteral("Select mail program:"), general);
  EditMailProgram = new QLineEdit(general);
  lblMailProgram->setBuddy(EditMailProgram);
  btnBrowse = new QPushButton(QStringLiteral("Browse"), general);

  auto* schedule = new QHBoxLayout;
  schedule->setSpacing(4);
  schedule->addWidget(CBCheckOnSchedule);
  schedule->addWidget(SPECheckTime);
  schedule->addWidget(lblMinutes);
  schedule->addStretch(1);
  auto* program = new QHBoxLayout;
  program->addWidget(EditMailProgram, 1);
  program->addWidget(btnBrowse);
  auto* g = new QVBoxLayout(general);
  g->addWidget(CBRunWhenStart);
  g->addWidget(CBMinWhenStart);
  g->addLayout(schedule);
  g->addWidget(CBCheckWhenOpen);
  g->addWidget(CBRememberPayments);
  g->addWidget(CBDesktopNotify);
  g->addSpacing(8);
  g->addWidget(lblMailProgram);
  g->addLayout(program);
  g->addStretch(1);
  PageControl->addTab(general, QStringLiteral("General"));

  // Mail Accounts
  auto* accounts = new QWidget;
  auto* lblManage = new QLabel(QStringLiteral("Manage your mail accounts."), accounts);
  LVAccounts = new QTreeWidget(accounts);
  LVAccounts->setColumnCount(3);
  LVAccounts->setHeaderLabels(
      {QStringLiteral("Account"), QStringLiteral("Server"), QString::fromLatin1(kStateColumnCaption)});
  LVAccounts->setRootIsDecorated(false);
  LVAccounts->setItemsExpandable(false);
  LVAccounts->setUniformRowHeights(true);
  LVAccounts->setSelectionMode(QAbstractItemView::SingleSelection);
  LVAccounts->setSelectionBehavior(QAbstractItemView::SelectRows);
  LVAccounts->setEditTriggers(QAbstractItemView::NoEditTriggers);
  LVAccounts->setSortingEnabled(false);
  LVAccounts->header()->setSectionsClickable(false);
  LVAccounts->header()->setSectionsMovable(false);
  LVAccounts->header()->setStretchLastSection(true);
  LVAccounts->setColumnWidth(0, 100);
  LVAccounts->setColumnWidth(1, 80);
  btnAdd = new QPushButton(QStringLiteral("&Add"), accounts);
  btnRemove = new QPushButton(QStringLiteral("&Remove"), accounts);
  btnProperties = new QPushButton(QStringLiteral("&Properties"), accounts);
  btnRemove->setEnabled(false);
  btnProperties->setEnabled(false);
  auto* side = new QVBoxLayout;
  side->addWidget(btnAdd);
  side->addWidget(btnRemove);
  side->addWidget(btnProperties);
  side->addStretch(1);
  auto* listAndButtons = new QHBoxLayout;
  listAndButtons->addWidget(LVAccounts, 1);
  listAndButtons->addLayout(side);
  auto* a = new QVBoxLayout(accounts);
  a->addWidget(lblManage);
  a->addLayout(listAndButtons, 1);
  PageControl->addTab(accounts, QStringLiteral("Mail Accounts"));
  PageControl->addTab(new TAnalyzersPage(PageControl), QStringLiteral("Analyzers"));

  btnOK = new QPushButton(QStringLiteral("&OK"), this);
  btnOK->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  auto* main = new QVBoxLayout(this);
  main->addWidget(PageControl, 1);
  main->addLayout(buttons);

  connect(btnAdd, &QPushButton::clicked, this, &TFormOptions::btnAddClick);
  connect(btnProperties, &QPushButton::clicked, this, &TFormOptions::btnPropertiesClick);
  connect(btnRemove, &QPushButton::clicked, this, &TFormOptions::btnRemoveClick);
  connect(btnBrowse, &QPushButton::clicked, this, &TFormOptions::btnBrowseClick);
  connect(btnOK, &QPushButton::clicked, this, &TFormOptions::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(LVAccounts, &QTreeWidget::itemSelectionChanged, this, &TFormOptions::LVAccountsSelectItem);
  connect(LVAccounts, &QTreeWidget::itemDoubleClicked, this, &TFormOptions::LVAccountsDblClick);
  connect(CBCheckOnSchedule, &QCheckBox::toggled, this, &TFormOptions::CBCheckOnScheduleClick);

  setTabOrder(CBRunWhenStart, CBMinWhenStart);
  setTabOrder(CBMinWhenStart, CBCheckOnSchedule);
  setTabOrder(CBCheckOnSchedule, EditMailProgram);
  setTabOrder(EditMailProgram, btnBrowse);
  setTabOrder(btnBrowse, CBCheckWhenOpen);
  setTabOrder(CBCheckWhenOpen, SPECheckTime);
  setTabOrder(SPECheckTime, CBRememberPayments);
  setTabOrder(CBRememberPayments, CBDesktopNotify);
  setTabOrder(CBDesktopNotify, LVAccounts);
  setTabOrder(LVAccounts, btnAdd);
  setTabOrder(btnAdd, btnRemove);
  setTabOrder(btnRemove, btnProperties);
  setTabOrder(btnProperties, btnOK);
  setTabOrder(btnOK, btnCancel);

  // FormCreate: skin, the first tab, then what the store holds now.
  ApplySkin(*this);
  PageControl->setCurrentIndex(0);
  CBRunWhenStart->setFocus();
  AppOption->LoadOptions();
  AccountStates.Load();
  UpdateDisplay();
}

TFormOptions::~TFormOptions() {
  if (FormOptions == this) FormOptions = nullptr;
}

void TFormOptions::UpdateDisplay() {
  const TOptions& o = *AppOption;
  CBRunWhenStart->setChecked(o.bAutoRun);
  CBMinWhenStart->setChecked(o.bMinToTray);
  CBCheckOnSchedule->setChecked(o.bCheckPaymentOnSchedule);
  CBCheckWhenOpen->setChecked(o.bCheckPaymentWhenOpening);
  CBRememberPayments->setChecked(o.bRememberPayments);
  CBDesktopNotify->setChecked(o.bDesktopNotify);
  SPECheckTime->SetCheckedValue(o.iCheckPaymentTime);
  EditMailProgram->setText(ToQ(o.sMailProgram));
  EditMailProgram->setCursorPosition(0);
  FShownMailProgram = o.sMailProgram;
  CBCheckOnScheduleClick();

  LVAccounts->clear();
  for (const auto& acc : o.AccountList) {
    // A row that cannot be made takes its copy with it; the next follows.
    try {
      AddRow(std::make_unique<TMailAccount>(*acc));
    } catch (const std::exception&) {
    }
  }
  LVAccountsSelectItem();
}

PMailAccount TFormOptions::RowAccount(QTreeWidgetItem* row) {
  if (!row || row->type() != TAccountRow::kType) return nullptr;
  return static_cast<TAccountRow*>(row)->Data.get();
}

QTreeWidgetItem* TFormOptions::SelectedRow() const {
  const auto rows = LVAccounts->selectedItems();
  return rows.isEmpty() ? nullptr : rows.front();
}

bool TFormOptions::NameTaken(const std::string& name, QTreeWidgetItem* except) const {
  // Exact and case-sensitive, like the captions' text.
  for (int i = 0; i < LVAccounts->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = LVAccounts->topLevelItem(i);
    PMailAccount acc = RowAccount(row);
    if (row != except && acc && acc->Name == name) return true;
  }
  return false;
}

void TFormOptions::AddRow(std::unique_ptr<TMailAccount> account) {
  LVAccounts->addTopLevelItem(new TAccountRow(std::move(account), AccountStates));
}

bool TFormOptions::EditFMA() {
  TFormMailAccount dialog(FMA, this);
  return dialog.exec() == QDialog::Accepted;
}

void TFormOptions::btnAddClick() {
  FMA = TMailAccount{};
  FMA.Port = "110";
  FMA.Security = secStartTls;
  if (!EditFMA()) return;
  if (NameTaken(FMA.Name, nullptr)) {
    MBError(kDuplicateName);
    return;
  }
  AddRow(std::make_unique<TMailAccount>(FMA));
}

void TFormOptions::btnPropertiesClick() {
  QTreeWidgetItem* row = SelectedRow();
  PMailAccount acc = RowAccount(row);
  if (!acc) return;
  FMA = *acc;
  if (!EditFMA()) return;
  if (NameTaken(FMA.Name, row)) {
    MBError(kDuplicateName);
    return;
  }
  *acc = FMA;
  static_cast<TAccountRow*>(row)->Show();
}

void TFormOptions::btnRemoveClick() {
  QTreeWidgetItem* row = SelectedRow();
  if (!row) return;
  delete row;  // frees its record
  // The next row is not chosen for the user: Remove and Properties wait for a new selection.
  LVAccounts->clearSelection();
  LVAccountsSelectItem();
}

void TFormOptions::btnBrowseClick() {
  if (!OpenDialog1) return;
  if (std::optional<QString> file = OpenDialog1(this)) EditMailProgram->setText(*file);
}

void TFormOptions::btnOKClick() {
  TOptions& o = *AppOption;
  o.bAutoRun = CBRunWhenStart->isChecked();
  o.bMinToTray = CBMinWhenStart->isChecked();
  o.bCheckPaymentOnSchedule = CBCheckOnSchedule->isChecked();
  o.bCheckPaymentWhenOpening = CBCheckWhenOpen->isChecked();
  o.bRememberPayments = CBRememberPayments->isChecked();
  o.bDesktopNotify = CBDesktopNotify->isChecked();
  o.iCheckPaymentTime = SPECheckTime->CheckedValue();
  o.sMailProgram = EditedBytes(EditMailProgram->text(), FShownMailProgram);

  ClearList(o.AccountList);
  for (int i = 0; i < LVAccounts->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = LVAccounts->topLevelItem(i);
    if (row->type() == TAccountRow::kType && static_cast<TAccountRow*>(row)->Data)
      o.AccountList.push_back(std::move(static_cast<TAccountRow*>(row)->Data));
  }
  o.StoreOptions();
  o.SetAutoRunOption();
  accept();
}

void TFormOptions::LVAccountsSelectItem() {
  const bool selected = SelectedRow() != nullptr;
  btnRemove->setEnabled(selected);
  btnProperties->setEnabled(selected);
}

void TFormOptions::LVAccountsDblClick() {
  if (SelectedRow()) btnPropertiesClick();
}

void TFormOptions::CBCheckOnScheduleClick() { SPECheckTime->setEnabled(CBCheckOnSchedule->isChecked()); }

}  // namespace qnb
