#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "dialogs/CAboutDlg.h"
#include "platform/ServerConfig.h"
#include "tests/gui/GuiTestSupport.h"

using zeza::CAboutDlg;
using namespace zeza::test;

TEST(AboutDlgTest, ShowsTitleVersionAndTheHomeSite) {
    CAboutDlg dlg;
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("关于"));

    auto* title = Ctrl<QLabel>(&dlg, "titleLabel");
    auto* contact = Ctrl<QPlainTextEdit>(&dlg, "contactEdit");
    auto* ok = Ctrl<QPushButton>(&dlg, "okButton");
    ASSERT_NE(title, nullptr);
    ASSERT_NE(contact, nullptr);
    ASSERT_NE(ok, nullptr);
    ExpectControlsInsideAndApart(&dlg);

    const QStringList titleLines = title->text().split(QLatin1Char('\n'));
    ASSERT_EQ(titleLines.size(), 2);
    EXPECT_EQ(titleLines[0], QStringLiteral("Zuzedidavi v1.0.1.2"));
    EXPECT_TRUE(titleLines[1].contains(QStringLiteral("(C)")));
    EXPECT_GE(title->height(), title->sizeHint().height()) << "a title line is cut";

    const QStringList contactLines = contact->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(contactLines.size(), 2);
    EXPECT_TRUE(contactLines[0].contains(QString::fromStdString(zeza::HomeHost())));
    EXPECT_TRUE(contact->isReadOnly());
    // Both contact lines are in sight without scrolling, and above the button.
    EXPECT_GE(contact->viewport()->height(), 2 * contact->fontMetrics().lineSpacing());
    EXPECT_LE(contact->geometry().bottom(), ok->geometry().top());

    EXPECT_TRUE(ok->isDefault());
    QTest::keyClick(&dlg, Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);

    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}
