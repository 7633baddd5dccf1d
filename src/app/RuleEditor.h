#pragma once
// The rule editor: the TOML text of a rule file beside a mail opened from an
// .eml file, its decoded text with the matches marked, and the order fields
// the rules would produce, all updated as the user types.

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <string>

#include "rules/MailText.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
class QTimer;
class QTreeWidget;

namespace qnb {

class TRuleEditor : public QDialog {
  Q_OBJECT
 public:
  // filePath: the own rule file to write; empty for a new one, then named
  // after the rule's id in userDir.
  TRuleEditor(QWidget* parent, const QString& filePath, const QString& userDir, const QString& text);

  QPlainTextEdit* EditRule;
  QPushButton* btnOpenMail;
  QTextEdit* MailView;
  QTreeWidget* LVFields;
  QLabel* LblStatus;
  QPushButton* btnSave;
  QPushButton* btnCancel;

  // The chooser behind "Open mail": a path, or nothing when cancelled.
  std::function<std::optional<QString>(QWidget*)> ChooseMail;

  // Reads and decodes a mail file; false when it cannot be read.
  bool LoadMail(const QString& path);
  // Checks the text and applies it to the opened mail (called shortly after each change).
  void Evaluate();
  // Writes the file when the text is free of faults; LblStatus says why not.
  bool Save();
  QString FilePath() const { return filePath_; }

 public slots:
  void btnOpenMailClick();
  void btnSaveClick();

 private:
  void ShowMail();

  QString filePath_, userDir_;
  QTimer* timer_;
  bool haveMail_ = false;
  std::string source_;
  rules::TMailText mail_;
  // Where the subject, the plain text and the HTML text start in MailView (UTF-16 units).
  int subjectAt_ = 0, textAt_ = 0, htmlAt_ = 0;
};

// The rule file text of a new rule.
QString NewRuleTemplate();

}  // namespace qnb
