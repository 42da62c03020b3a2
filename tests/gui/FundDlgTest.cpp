#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include "app/CFundDlg.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using zeza::CFundDlg;
using zeza::g_pMainDlg;
using namespace zeza::test;

namespace {

struct Control {
    const char* name;
    const char* kind;
    const char* caption;  // nullptr: no caption to compare
};

// The window's controls as its template has them before the first layout.
const Control kControls[] = {
    {"logoPicture", "QLabel", nullptr},
    {"headerFiller", "QLabel", nullptr},
    {"headerPane", "QWidget", nullptr},
    {"searchEdit", "QLineEdit", ""},
    {"findButton", "QPushButton", "查找"},
    {"latestButton", "QPushButton", "最新净值"},
    {"forecastButton", "QPushButton", "净值预测"},
    {"holdingsButton", "QPushButton", "我的基金"},
    {"watchListButton", "QPushButton", "我的关注"},
    {"incomeCalendarButton", "QPushButton", "收益日历"},
    {"addHoldingButton", "QPushButton", "添加我的基金"},
    {"moreButton", "QPushButton", "更多 >>"},
    {"feedbackButton", "QPushButton", "意见反馈"},
    {"calculatorButton", "QPushButton", "计算器"},
    {"fundList", "QTableView", nullptr},
    {"pagePane", "QWidget", nullptr},
    {"summaryLabel", "QLabel",
     "0000-00-00 市值:0000.00 赢利:0000.00 较前日:0000.00  预估市值0000.00 预估赢利:0000.00"},
};

QString Caption(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    return QString();
}

}  // namespace

TEST(FundDlgTest, HoldsEveryTemplateControlWithItsCaption) {
    ScopedTempDir dir;
    CFundDlg dlg;
    for (const Control& c : kControls) {
        SCOPED_TRACE(c.name);
        QWidget* w = Ctrl(&dlg, c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(c.kind)) << w->metaObject()->className();
        if (c.caption) {
            EXPECT_EQ(Caption(w), QString::fromUtf8(c.caption));
        }
    }
    EXPECT_TRUE(Ctrl<QPushButton>(&dlg, "findButton")->isDefault());
    // The list lies above the page pane that shares its rectangle, and the
    // header filler above the header pane until the layout moves them apart.
    const QObjectList& z = dlg.children();
    EXPECT_GT(z.indexOf(Ctrl(&dlg, "fundList")), z.indexOf(Ctrl(&dlg, "pagePane")));
    EXPECT_GT(z.indexOf(Ctrl(&dlg, "headerFiller")), z.indexOf(Ctrl(&dlg, "headerPane")));
}

TEST(FundDlgTest, ConstructionLoadsQuoteDatesAndRegistersTheWindow) {
    ScopedTempDir dir;
    ASSERT_EQ(g_pMainDlg, nullptr);
    {
        CFundDlg dlg;
        EXPECT_EQ(g_pMainDlg, &dlg);
        std::vector<std::string> expected;
        ASSERT_EQ(zeza::CFundDb().GetQuoteDates(expected), 1);
        EXPECT_FALSE(dlg.QuoteDates().empty());
        EXPECT_EQ(dlg.QuoteDates(), expected);
        // Only constructed: not yet initialised, so still the template caption.
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Taviro rize"));
    }
    EXPECT_EQ(g_pMainDlg, nullptr);
}

TEST(FundDlgTest, RunsUntilEscapeAndEnterPressesFind) {
    ScopedTempDir dir;
    CFundDlg dlg;
    int findClicks = 0;
    QObject::connect(Ctrl<QPushButton>(&dlg, "findButton"), &QPushButton::clicked, [&] { ++findClicks; });

    ModalScript script;
    script.Then<CFundDlg>([&](CFundDlg* shown) {
        // Its title and maximised frame are checked where the program starts it (StartupTest).
        EXPECT_EQ(shown, &dlg);
        // Enter in the search field presses the default button "查找".
        QTest::keyClick(Ctrl(shown, "searchEdit"), Qt::Key_Return);
        QTest::keyClick(Ctrl(shown, "searchEdit"), Qt::Key_Escape);
    });
    EXPECT_EQ(dlg.exec(), QDialog::Rejected);
    EXPECT_TRUE(script.AllStepsRan());
    EXPECT_EQ(findClicks, 1);
}
