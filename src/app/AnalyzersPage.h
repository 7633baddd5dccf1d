#pragma once
// The "Analyzers" page of the options: the analyzer plug-ins and the rules of
// the rules analyzer (shipped and own), with New, Edit, Duplicate and Delete
// for own rules. Own rules are files in the user's rule folder; the plug-in
// reads them again at the next check.

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "rules/RuleEngine.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace qnb {

class TRuleEditor;

class TAnalyzersPage : public QWidget {
  Q_OBJECT
 public:
  // Without folders: the plug-ins beside the program and the user's rule folder.
  explicit TAnalyzersPage(QWidget* parent = nullptr, const QString& pluginDir = {}, const QString& userRulesDir = {});

  QLabel* LblPlugins;
  QTreeWidget* LVRules;
  QPushButton* btnNew;
  QPushButton* btnEdit;
  QPushButton* btnDuplicate;
  QPushButton* btnDelete;
  QLabel* LblProblems;

  // Asked before an own rule file is deleted.
  std::function<bool(QWidget* parent, const QString& question)> Confirm;
  // Shows the editor; true when it saved. Tests drive the editor through it.
  std::function<bool(TRuleEditor& editor)> RunEditor;

  // Reads the rules again and refills the list.
  void Reload();
  // The rule of the selected row, or null.
  const rules::TRule* SelectedRule() const;

 public slots:
  void btnNewClick();
  void btnEditClick();
  void btnDuplicateClick();
  void btnDeleteClick();
  void UpdateButtons();

 private:
  bool Edit(const QString& filePath, const QString& text);

  std::string pluginDir_, userDir_;
  rules::TRuleSet set_;
};

// The text of one rule ([[rule]] up to the next) in its file.
QString RuleSourceText(const rules::TRule& rule);

}  // namespace qnb
