#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>

#include "app/CFundApp.h"
#include "app/CFundDlg.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using zeza::CFundDlg;
using zeza::g_pMainDlg;
using zeza::test::Ctrl;
using zeza::test::DuRect;
using zeza::test::ModalScript;
using zeza::test::ScopedTempDir;

namespace {

struct TemplateControl {
    int id;
    const char* kind;
    const char* caption;  // nullptr: no caption to compare
    int x, y, w, h;
};

// Template 102 as the window's controls must reproduce it before the first layout.
const TemplateControl kControls[] = {
    {1010, "QLabel", nullptr, 0, 0, 267, 47},
    {1006, "QLabel", nullptr, 239, 0, 3, 47},
    {1046, "QWidget", nullptr, 307, 5, 70, 38},
    {1007, "QLineEdit", "", 419, 47, 40, 14},
    {1008, "QPushButton", "查找", 461, 47, 32, 14},
    {1001, "QPushButton", "最新净值", 4, 65, 66, 16},
    {1002, "QPushButton", "净值预测", 4, 83, 66, 16},
    {1004, "QPushButton", "我的基金", 4, 101, 66, 16},
    {1003, "QPushButton", "我的关注", 4, 119, 66, 16},
    {1047, "QPushButton", "添加我的基金", 4, 137, 66, 16},
    {1031, "QPushButton", "更多 >>", 4, 155, 66, 16},
    {1014, "QPushButton", "意见反馈", 4, 173, 66, 16},
    {1015, "QPushButton", "计算器", 4, 191, 66, 16},
    {1000, "QTableView", nullptr, 73, 65, 421, 220},
    {1013, "QWidget", nullptr, 451, 296, 43, 18},
    {1052, "QLabel", "0000-00-00 市值:0000.00 赢利:0000.00 较前日:0000.00  预估市值0000.00 预估赢利:0000.00",
     73, 51, 338, 8},
};

QString Caption(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    return QString();
}

}  // namespace

TEST(FundDlgTest, HoldsEveryTemplateControlAtItsRectangle) {
    ScopedTempDir dir;
    CFundDlg dlg;
    EXPECT_EQ(dlg.size(), DuRect(0, 0, 494, 314).size());
    for (const TemplateControl& c : kControls) {
        SCOPED_TRACE(c.id);
        QWidget* w = Ctrl(&dlg, c.id);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(c.kind)) << w->metaObject()->className();
        EXPECT_EQ(w->geometry(), DuRect(c.x, c.y, c.w, c.h));
        if (c.caption) {
            EXPECT_EQ(Caption(w), QString::fromUtf8(c.caption));
        }
    }
    EXPECT_TRUE(Ctrl<QPushButton>(&dlg, 1008)->isDefault());
    // The list lies above the page pane that shares its rectangle, and the
    // header filler above the header pane until the layout moves them apart.
    const QObjectList& z = dlg.children();
    EXPECT_GT(z.indexOf(Ctrl(&dlg, 1000)), z.indexOf(Ctrl(&dlg, 1013)));
    EXPECT_GT(z.indexOf(Ctrl(&dlg, 1006)), z.indexOf(Ctrl(&dlg, 1046)));
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

TEST(FundDlgTest, RunsMaximisedWithItsTitleAndEndsOnEscape) {
    ScopedTempDir dir;
    zeza::CFundApp::SetDialogBkColor(QColor(zeza::CFundApp::kDialogBkColor), Qt::black);
    CFundDlg dlg;
    int findClicks = 0;
    QObject::connect(Ctrl<QPushButton>(&dlg, 1008), &QPushButton::clicked, [&] { ++findClicks; });

    ModalScript script;
    script.Then<CFundDlg>([&](CFundDlg* shown) {
        EXPECT_EQ(shown, &dlg);
        EXPECT_EQ(shown->windowTitle(), QStringLiteral("Zuzedidavi v1.0.1.2"));
        EXPECT_TRUE(shown->windowState() & Qt::WindowMaximized);
        // The window system applies the maximised size after the show.
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return shown->frameGeometry() == shown->screen()->availableGeometry();
        })) << "frame "
            << shown->frameGeometry().width() << "x" << shown->frameGeometry().height();
        EXPECT_EQ(shown->palette().color(QPalette::Window), QColor(191, 202, 230));
        EXPECT_EQ(shown->palette().color(QPalette::WindowText), QColor(Qt::black));
        // Enter in the search field presses the default button "查找".
        QTest::keyClick(Ctrl(shown, 1007), Qt::Key_Return);
        QTest::keyClick(Ctrl(shown, 1007), Qt::Key_Escape);
    });
    EXPECT_EQ(dlg.exec(), QDialog::Rejected);
    EXPECT_TRUE(script.AllStepsRan());
    EXPECT_EQ(findClicks, 1);
}
