#pragma once
// The options dialog: the general options and the account list. It reloads
// the options when it opens, works on copies, and stores only on OK.

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

#include "settings/AccountState.h"
#include "settings/QnbBase.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace qnb {

class TSpinEdit;

class TFormOptions : public QDialog {
  Q_OBJECT
 public:
  // Reloads AppOption (which must exist) from the store.
  explicit TFormOptions(QWidget* owner);
  ~TFormOptions() override;

  // The account being edited by the account dialog.
  TMailAccount FMA;
  // Each account's last check, as stored when the dialog opened.
  TAccountStateBook AccountStates;

  QTabWidget* PageControl;
  QCheckBox* CBRunWhenStart;
  QCheckBox* CBMinWhenStart;
  QCheckBox* CBCheckOnSchedule;
  TSpinEdit* SPECheckTime;
  QCheckBox* CBCheckWhenOpen;
  QCheckBox* CBRememberPayments;
  QCheckBox* CBDesktopNotify;
  QLineEdit* EditMailProgram;
  QPushButton* btnBrowse;
  QTreeWidget* LVAccounts;
  QPushButton* btnAdd;
  QPushButton* btnRemove;
  QPushButton* btnProperties;
  QPushButton* btnOK;
  QPushButton* btnCancel;

  // The file chooser behind Browse: a full path, or nothing when cancelled.
  using TFileChooser = std::function<std::optional<QString>(QWidget* parent)>;
  TFileChooser OpenDialog1;

  void UpdateDisplay();
  // The record a row owns (nullptr for no row).
  static PMailAccount RowAccount(QTreeWidgetItem* row);

 public slots:
  void btnAddClick();
  void btnPropertiesClick();
  void btnRemoveClick();
  void btnBrowseClick();
  void btnOKClick();
  void LVAccountsSelectItem();
  void LVAccountsDblClick();
  void CBCheckOnScheduleClick();

 private:
  QTreeWidgetItem* SelectedRow() const;
  // True when another row than except already has the name.
  bool NameTaken(const std::string& name, QTreeWidgetItem* except) const;
  void AddRow(std::unique_ptr<TMailAccount> account);
  // Runs the account dialog on FMA; true on OK.
  bool EditFMA();

  std::string FShownMailProgram;  // bytes behind EditMailProgram's first text
};

// The options dialog while it exists.
extern TFormOptions* FormOptions;

// The chooser Browse uses unless a test puts in its own.
std::optional<QString> ChooseMailProgram(QWidget* parent);

}  // namespace qnb
