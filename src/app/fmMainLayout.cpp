#include "app/fmMainLayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

#include "app/ClickLabel.h"
#include "app/CoolTrayIcon.h"
#include "app/MSNPopForm.h"
#include "app/NoAccountHint.h"
#include "app/fmAbout.h"
#include "app/OrderModel.h"
#include "settings/QnbBase.h"

namespace qnb {

void BuildMainUi(QMainWindow& window, TOrderModel& model, TMainUi& ui) {
  auto* central = new QWidget(&window);
  central->setObjectName(QStringLiteral("MainPanel"));
  auto* v = new QVBoxLayout(central);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(0);

  auto* bar = new QWidget(central);
  bar->setObjectName(QStringLiteral("ButtonBar"));
  auto* h = new QHBoxLayout(bar);
  h->setContentsMargins(4, 8, 8, 8);
  h->setSpacing(4);
  ui.btnCheck = new QPushButton(QString::fromLatin1(kCheckMail), bar);
  ui.btnCheck->setObjectName(QStringLiteral("btnCheck"));
  ui.suiArrowButton1 = new QToolButton(bar);
  ui.suiArrowButton1->setObjectName(QStringLiteral("suiArrowButton1"));
  ui.suiArrowButton1->setArrowType(Qt::DownArrow);
  ui.suiArrowButton1->setToolTip(QStringLiteral("Check one account"));
  ui.btnMailProgram = new QPushButton(QStringLiteral("Mail Program"), bar);
  ui.btnOptions = new QPushButton(QStringLiteral("Options"), bar);
  ui.btnHide = new QPushButton(QStringLiteral("Hide"), bar);
  ui.btnAbout = new QPushButton(QStringLiteral("About"), bar);
  ui.LabelHomepage = new TClickLabel(bar);
  ui.LabelHomepage->setObjectName(QStringLiteral("LabelHomepage"));
  ui.LabelHomepage->setText(QStringLiteral("Welcome to Brisklet"));
  ui.LabelHomepage->setToolTip(QString::fromLatin1(kHomepage));
  // Room for the longer caption of the check button and every other caption,
  // whatever the font and the skin's padding.
  const QFontMetrics fm = ui.btnCheck->fontMetrics();
  ui.btnCheck->setMinimumWidth(std::max(96, fm.horizontalAdvance(QString::fromLatin1(kStopChecking)) + 36));
  for (QPushButton* b : {ui.btnMailProgram, ui.btnOptions, ui.btnHide, ui.btnAbout})
    b->setMinimumWidth(std::max(77, fm.horizontalAdvance(b->text()) + 36));
  h->addWidget(ui.btnCheck);
  h->addWidget(ui.suiArrowButton1);
  h->addSpacing(8);
  h->addWidget(ui.btnMailProgram);
  h->addWidget(ui.btnOptions);
  h->addWidget(ui.btnHide);
  h->addWidget(ui.btnAbout);
  h->addStretch(1);
  h->addWidget(ui.LabelHomepage);
  v->addWidget(bar);
  ui.NoAccountHint = new TNoAccountHint(central);
  ui.NoAccountHint->hide();
  v->addWidget(ui.NoAccountHint);

  auto* filters = new QWidget(central);
  filters->setObjectName(QStringLiteral("FilterBar"));
  auto* fh = new QHBoxLayout(filters);
  fh->setContentsMargins(4, 0, 8, 4);
  fh->setSpacing(4);
  ui.cbView = new QComboBox(filters);
  ui.cbView->setObjectName(QStringLiteral("cbView"));
  ui.cbView->addItems({QStringLiteral("Payments on server"), QStringLiteral("Whole history")});
  ui.edSearch = new QLineEdit(filters);
  ui.edSearch->setObjectName(QStringLiteral("edSearch"));
  ui.edSearch->setPlaceholderText(QStringLiteral("Search buyer, e-mail, product, order ID"));
  ui.edSearch->setClearButtonEnabled(true);
  ui.edSearch->setMinimumWidth(220);
  ui.cbDates = new QCheckBox(QStringLiteral("From"), filters);
  ui.cbDates->setObjectName(QStringLiteral("cbDates"));
  ui.deFrom = new QDateEdit(QDate::currentDate().addMonths(-1), filters);
  ui.deTo = new QDateEdit(QDate::currentDate(), filters);
  for (QDateEdit* d : {ui.deFrom, ui.deTo}) {
    d->setCalendarPopup(true);
    d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    d->setEnabled(false);
  }
  ui.btnExport = new QPushButton(QStringLiteral("Export"), filters);
  ui.btnExport->setObjectName(QStringLiteral("btnExport"));
  ui.pmExport = new QMenu(&window);
  ui.MIExportCsv = ui.pmExport->addAction(QStringLiteral("Export as CSV..."));
  ui.MIExportJson = ui.pmExport->addAction(QStringLiteral("Export as JSON..."));
  ui.btnExport->setMenu(ui.pmExport);
  ui.btnAnalyseAgain = new QPushButton(QStringLiteral("Analyse again"), filters);
  ui.btnAnalyseAgain->setObjectName(QStringLiteral("btnAnalyseAgain"));
  ui.btnAnalyseAgain->setToolTip(QStringLiteral("Run the analyzers again over the stored mails of the selected payments"));
  for (QPushButton* b : {ui.btnExport, ui.btnAnalyseAgain})
    b->setMinimumWidth(b->fontMetrics().horizontalAdvance(b->text()) + 40);
  fh->addWidget(ui.cbView);
  fh->addWidget(ui.edSearch, 1);
  fh->addWidget(ui.cbDates);
  fh->addWidget(ui.deFrom);
  fh->addWidget(new QLabel(QStringLiteral("to"), filters));
  fh->addWidget(ui.deTo);
  fh->addSpacing(8);
  fh->addWidget(ui.btnExport);
  fh->addWidget(ui.btnAnalyseAgain);
  v->addWidget(filters);

  ui.lvOrders = new QTreeView(central);
  ui.lvOrders->setObjectName(QStringLiteral("lvOrders"));
  ui.lvOrders->setModel(&model);
  ui.lvOrders->setRootIsDecorated(false);
  ui.lvOrders->setUniformRowHeights(true);
  ui.lvOrders->setSelectionBehavior(QAbstractItemView::SelectRows);
  ui.lvOrders->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ui.lvOrders->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // No column sorted at first: the rows keep the order in which they came.
  ui.lvOrders->header()->setSortIndicator(-1, Qt::AscendingOrder);
  ui.lvOrders->setSortingEnabled(true);
  ui.lvOrders->header()->setSectionsClickable(true);
  ui.lvOrders->header()->setStretchLastSection(false);
  ui.lvOrders->setContextMenuPolicy(Qt::CustomContextMenu);
  // The classic widths, widened where today's fonts need more for the captions
  // and for amounts like "€1234.56".
  const int widths[] = {140, 160, 150, 70, 90, 120};
  for (int c = 0; c < 6; ++c) ui.lvOrders->setColumnWidth(c, widths[c]);
  v->addWidget(ui.lvOrders, 1);
  ui.pmOrders = new QMenu(&window);
  ui.MIDetails = ui.pmOrders->addAction(QStringLiteral("Details..."));
  ui.MIAnalyseAgain = ui.pmOrders->addAction(QStringLiteral("Analyse again"));

  ui.lbTotals = new QLabel(central);
  ui.lbTotals->setObjectName(QStringLiteral("lbTotals"));
  ui.lbTotals->setContentsMargins(6, 3, 6, 3);
  ui.lbTotals->setTextInteractionFlags(Qt::TextSelectableByMouse);
  v->addWidget(ui.lbTotals);
  window.setCentralWidget(central);

  ui.sbPanel1 = new QLabel(&window);
  ui.sbPanel1->setTextFormat(Qt::PlainText);  // status texts carry what servers said
  ui.sbPanel1->setMinimumWidth(230);
  ui.sbPanel2 = new QLabel(&window);
  ui.sbPanel2->setMinimumWidth(100);
  ui.sbPanel3 = new QLabel(QStringLiteral("Varnett"), &window);
  ui.sbPanel3->setMinimumWidth(50);
  ui.sbProgress = new QProgressBar(&window);
  ui.sbProgress->setMaximumWidth(120);
  ui.sbProgress->setMaximumHeight(14);
  ui.sbProgress->setTextVisible(false);
  ui.sbProgress->hide();
  window.statusBar()->addWidget(ui.sbPanel1, 1);
  window.statusBar()->addPermanentWidget(ui.sbProgress);
  window.statusBar()->addPermanentWidget(ui.sbPanel2);
  window.statusBar()->addPermanentWidget(ui.sbPanel3);

  ui.pmCheckMail = new QMenu(&window);
  ui.A1 = ui.pmCheckMail->addAction(QStringLiteral("Check All ..."));
  ui.pmCheckMail->addSeparator();

  ui.PopupMenuTray = new QMenu(&window);
  ui.MIViewOrderList = ui.PopupMenuTray->addAction(QStringLiteral("Open Quenbell"));
  ui.MICheckOrderNew = ui.PopupMenuTray->addAction(QString::fromLatin1(kCheckMail));
  ui.PopupMenuTray->addSeparator();
  ui.Help1 = ui.PopupMenuTray->addAction(QStringLiteral("Help"));
  ui.Homepage1 = ui.PopupMenuTray->addAction(QStringLiteral("Homepage"));
  ui.MIAbout = ui.PopupMenuTray->addAction(QStringLiteral("About..."));
  ui.PopupMenuTray->addSeparator();
  ui.MIExit = ui.PopupMenuTray->addAction(QStringLiteral("Exit"));
  ui.PopupMenuTray->setDefaultAction(ui.MIViewOrderList);

  ui.CTrayIcon = new TCoolTrayIcon(&window, &window);
  ui.CTrayIcon->SetPopupMenu(ui.PopupMenuTray);
  ui.CTrayIcon->SetHint(QStringLiteral("Quenbell"));
  ui.CTrayIcon->SetIconVisible(true);
  ui.MSNPopForm = new TsuiMSNPopForm(&window, &window);
}

}  // namespace qnb
