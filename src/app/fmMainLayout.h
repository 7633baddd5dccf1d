#pragma once
// The main window's layout: the button bar, the payment list, the status bar,
// the menus, the tray icon and the pop-up. Built once; the window owns them.

#include <QIcon>

class QAction;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QProgressBar;
class QPushButton;
class QTreeView;
class QToolButton;

namespace qnb {

class TClickLabel;
class TCoolTrayIcon;
class TNoAccountHint;
class TOrderModel;
class TsuiMSNPopForm;

struct TMainUi {
  QPushButton* btnCheck = nullptr;
  QToolButton* suiArrowButton1 = nullptr;
  QPushButton* btnMailProgram = nullptr;
  QPushButton* btnOptions = nullptr;
  QPushButton* btnHide = nullptr;
  QPushButton* btnAbout = nullptr;
  TClickLabel* LabelHomepage = nullptr;
  TNoAccountHint* NoAccountHint = nullptr;  // shown while no account is set up
  // Above the list: what it shows, the search box, the date range, export and
  // the second analysis of stored mails.
  QComboBox* cbView = nullptr;  // 0: payments on server, 1: whole history
  QLineEdit* edSearch = nullptr;
  QCheckBox* cbDates = nullptr;
  QDateEdit* deFrom = nullptr;
  QDateEdit* deTo = nullptr;
  QPushButton* btnExport = nullptr;
  QMenu* pmExport = nullptr;
  QAction* MIExportCsv = nullptr;
  QAction* MIExportJson = nullptr;
  QPushButton* btnAnalyseAgain = nullptr;
  QTreeView* lvOrders = nullptr;
  QMenu* pmOrders = nullptr;  // the list's context menu
  QAction* MIDetails = nullptr;
  QAction* MIAnalyseAgain = nullptr;
  QLabel* lbTotals = nullptr;  // today, this week, this month
  QLabel* sbPanel1 = nullptr;
  QLabel* sbPanel2 = nullptr;
  QLabel* sbPanel3 = nullptr;
  QProgressBar* sbProgress = nullptr;
  QMenu* pmCheckMail = nullptr;
  QAction* A1 = nullptr;
  QMenu* PopupMenuTray = nullptr;
  QAction* MIViewOrderList = nullptr;
  QAction* MICheckOrderNew = nullptr;
  QAction* Help1 = nullptr;
  QAction* Homepage1 = nullptr;
  QAction* MIAbout = nullptr;
  QAction* MIExit = nullptr;
  TCoolTrayIcon* CTrayIcon = nullptr;
  TsuiMSNPopForm* MSNPopForm = nullptr;
};

inline constexpr const char* kCheckMail = "Check Mail";
inline constexpr const char* kStopChecking = "Stop Checking";

// Creates the window's parts as children of window; model is shown in the
// list, rowIcon on each of its rows. The window's handlers are connected by
// the caller.
void BuildMainUi(QMainWindow& window, TOrderModel& model, TMainUi& ui);

}  // namespace qnb
