// The Analyzers page and the rule editor, offscreen, on the real shipped rules
// and a temporary folder of own rules.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>

#include <filesystem>
#include <map>
#include <set>

#include "TestConfig.h"
#include "app/AnalyzersPage.h"
#include "app/RuleEditor.h"
#include "support/TempDir.h"

namespace qnb {
namespace {

namespace fs = std::filesystem;

const QString kPlugins = QStringLiteral(QUENBELL_PLUGIN_DIR);
const QString kMails = QStringLiteral(QUENBELL_TEST_DATA_DIR "/rules/");

QTreeWidgetItem* RowOf(TAnalyzersPage& page, const QString& rule) {
  for (int i = 0; i < page.LVRules->topLevelItemCount(); ++i)
    if (page.LVRules->topLevelItem(i)->text(1) == rule) return page.LVRules->topLevelItem(i);
  return nullptr;
}

TEST(AnalyzersPageTest, OwnRulesAreMadeEditedAndDeletedShippedOnesOnlyDuplicated) {
  test::TTempDir own;
  TAnalyzersPage page(nullptr, kPlugins, QString::fromStdString(own.Str()));
  EXPECT_EQ(page.LblPlugins->text(), QStringLiteral("Plug-ins: paynimbus.so, rules.so"));
  const int shipped = page.LVRules->topLevelItemCount();
  ASSERT_GE(shipped, 14);

  QTreeWidgetItem* etsy = RowOf(page, QStringLiteral("etsy-sale"));
  ASSERT_NE(etsy, nullptr);
  EXPECT_EQ(etsy->text(0), QStringLiteral("Etsy"));
  page.LVRules->setCurrentItem(etsy);
  EXPECT_FALSE(page.btnEdit->isEnabled());
  EXPECT_FALSE(page.btnDelete->isEnabled());
  EXPECT_TRUE(page.btnDuplicate->isEnabled());

  // Duplicate: the editor opens on the rule's own text under a new id and saves it as an own file.
  page.RunEditor = [](TRuleEditor& e) {
    EXPECT_TRUE(e.EditRule->toPlainText().startsWith(QStringLiteral("[[rule]]\nid = \"etsy-sale-copy\"\n")))
        << e.EditRule->toPlainText().toStdString();
    EXPECT_TRUE(e.EditRule->toPlainText().contains(QStringLiteral("[rule.fields]")));
    return e.Save();
  };
  page.btnDuplicate->click();
  EXPECT_TRUE(fs::exists(own.Path() / "etsy-sale-copy.toml"));
  QTreeWidgetItem* copy = RowOf(page, QStringLiteral("etsy-sale-copy (own)"));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(page.LVRules->topLevelItemCount(), shipped + 1);

  // Edit: a changed service name is saved into the same file.
  page.LVRules->setCurrentItem(copy);
  ASSERT_TRUE(page.btnEdit->isEnabled());
  page.RunEditor = [](TRuleEditor& e) {
    QString t = e.EditRule->toPlainText();
    t.replace(QStringLiteral("service = \"Etsy\""), QStringLiteral("service = \"Etsy (mine)\""));
    e.EditRule->setPlainText(t);
    return e.Save();
  };
  page.btnEdit->click();
  copy = RowOf(page, QStringLiteral("etsy-sale-copy (own)"));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->text(0), QStringLiteral("Etsy (mine)"));

  // A broken own file is named with its line; the other rules stay listed.
  own.Write("broken.toml", "[[rule]]\nid = \"b\"\nservice = \"B\"\nfrom = \"b.example\"\n[rule.fields]\nOrderID = '('\n");
  page.Reload();
  EXPECT_EQ(page.LblProblems->text().toStdString(),
            (own.Path() / "broken.toml").string() + ":6: field OrderID: missing closing parenthesis at offset 1");
  EXPECT_EQ(page.LVRules->topLevelItemCount(), shipped + 1);

  // Delete asks first and removes the file.
  page.LVRules->setCurrentItem(RowOf(page, QStringLiteral("etsy-sale-copy (own)")));
  bool asked = false;
  page.Confirm = [&](QWidget*, const QString&) { return !(asked = true); };
  page.btnDelete->click();
  EXPECT_TRUE(asked);
  EXPECT_TRUE(fs::exists(own.Path() / "etsy-sale-copy.toml"));
  page.Confirm = [](QWidget*, const QString&) { return true; };
  page.btnDelete->click();
  EXPECT_FALSE(fs::exists(own.Path() / "etsy-sale-copy.toml"));
  EXPECT_EQ(page.LVRules->topLevelItemCount(), shipped);
}

const QString kRule = QStringLiteral(
    "[[rule]]\nid = \"shop\"\nservice = \"Shop\"\nfrom = \"shopify.com\"\nsubject = 'placed by'\n[rule.fields]\n"
    "OrderID = { in = \"subject\", pattern = 'Order #(\\d+)' }\nAmount = '(?<!Sub)Total\\s+(\\S+)'\n");

TEST(RuleEditorTest, ShowsMatchesAndFieldsAsTheUserTypes) {
  test::TTempDir own;
  TRuleEditor editor(nullptr, QString(), QString::fromStdString(own.Str()), kRule);
  ASSERT_TRUE(editor.LoadMail(kMails + "shopify-new-order.eml"));
  EXPECT_TRUE(editor.MailView->toPlainText().contains(QStringLiteral("Quenbell Mug \u00D7 2")));
  std::map<QString, QString> fields;
  for (int i = 0; i < editor.LVFields->topLevelItemCount(); ++i)
    fields[editor.LVFields->topLevelItem(i)->text(0)] = editor.LVFields->topLevelItem(i)->text(1);
  EXPECT_EQ(fields, (std::map<QString, QString>{{QStringLiteral("OrderID"), QStringLiteral("1001")},
                                                {QStringLiteral("Amount"), QStringLiteral("35.0000")}}));
  std::set<QString> marked;
  for (const auto& m : editor.MailView->extraSelections()) marked.insert(m.cursor.selectedText());
  EXPECT_EQ(marked, (std::set<QString>{QStringLiteral("1001"), QStringLiteral("$35.00")}));
  EXPECT_TRUE(editor.LblStatus->text().contains(QStringLiteral("claims and parses")));

  // Typing a bad pattern: after the pause the fault is named at its field with the position.
  QString bad = kRule;
  bad.replace(QStringLiteral("Total\\s+(\\S+)"), QStringLiteral("Total\\s+(\\S+"));
  editor.EditRule->setPlainText(bad);
  EXPECT_TRUE(QTest::qWaitFor([&] { return editor.LVFields->topLevelItemCount() == 0; }, 3000));
  EXPECT_TRUE(editor.LblStatus->text().startsWith(QStringLiteral("Line 8: field Amount: missing closing parenthesis at offset")))
      << editor.LblStatus->text().toStdString();
  EXPECT_FALSE(editor.Save());
  EXPECT_TRUE(fs::is_empty(own.Path()));

  editor.EditRule->setPlainText(kRule);
  EXPECT_TRUE(QTest::qWaitFor([&] { return editor.LVFields->topLevelItemCount() == 2; }, 3000));
  ASSERT_TRUE(editor.Save());
  EXPECT_TRUE(fs::exists(own.Path() / "shop.toml"));
}

}  // namespace
}  // namespace qnb
