#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QInputMethodEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include "app/CFundDlg.h"
#include "db/SqlAccess.h"
#include "platform/GbkCodec.h"
#include "suggest/CSuggestEdit.h"
#include "suggest/CSuggestPopup.h"
#include "suggest/PinyinInitials.h"
#include "suggest/SuggestionList.h"
#include "tables/CFundListCtrl.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using zeza::CSuggestEdit;
using zeza::CSuggestPopup;
using zeza::GbkToUtf8;
using zeza::test::G;

namespace {

// Counts the paints of a widget, to tell a row-by-row scroll from a jump.
class PaintCounter : public QObject {
  public:
    int count = 0;

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++count;
        return false;
    }
};

// The search field in a dialog with a default button, as the hosts have it.
class SuggestEditTest : public testing::Test {
  protected:
    void SetUp() override {
        dlg = std::make_unique<QDialog>();
        auto* layout = new QVBoxLayout(dlg.get());
        field = new CSuggestEdit(dlg.get());
        button = new QPushButton(QStringLiteral("查找"), dlg.get());
        button->setDefault(true);
        layout->addWidget(field);
        layout->addWidget(button);
        layout->addStretch();
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
        QObject::connect(button, &QPushButton::clicked, dlg.get(), &QDialog::accept);
        QObject::connect(field, &CSuggestEdit::SuggestTextChanged, [this] { log.push_back("text"); });
        QObject::connect(field, &CSuggestEdit::SuggestPicked, [this] { log.push_back("picked"); });
        dlg->setGeometry(120, 100, 320, 240);
        dlg->show();
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
        field->setFocus();
        field->Setup();
    }

    CSuggestPopup& popup() { return field->Popup(); }

    void Add(const std::vector<std::string>& utf8) {
        for (const auto& e : utf8) field->AddCandidate(G(e));
    }
    // n entries "1000nn-基金nn", already in sorted order.
    void AddNumbered(int n) {
        for (int i = 0; i < n; ++i)
            field->AddCandidate(G(QString::asprintf("1000%02d-基金%02d", i, i).toStdString()));
    }
    void Type(const char* ascii) { QTest::keyClicks(field, ascii); }
    void Commit(const QString& text) {
        QInputMethodEvent ev;
        ev.setCommitString(text);
        QApplication::sendEvent(field, &ev);
    }
    // Keys go to the window, which hands them to the focus widget as the user's keys would.
    void Key(Qt::Key key) { QTest::keyClick(dlg->windowHandle(), key); }

    QString Entry(int row) { return QString::fromStdString(GbkToUtf8(popup().Matches().at(row))); }
    QPoint RowPoint(int row) {
        return QPoint(30, 1 + popup().RowHeight() * (row - popup().TopRow()) + popup().RowHeight() / 2);
    }
    void Hover(const QPoint& pos) {
        QMouseEvent ev(QEvent::MouseMove, pos, popup().mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                       Qt::NoModifier);
        QApplication::sendEvent(&popup(), &ev);
    }
    void DragGrip(const QPoint& delta) {
        const QPoint from(popup().width() - 3, popup().height() - 3);
        QTest::mousePress(&popup(), Qt::LeftButton, {}, from);
        QTest::mouseMove(&popup(), from + delta);
        QTest::mouseRelease(&popup(), Qt::LeftButton, {}, from + delta);
    }
    // A key and its undo bring the list of "1" back.
    bool Reopen() {
        Type("0");
        QTest::keyClick(field, Qt::Key_Backspace);
        return popup().isVisible();
    }
    int ExpectedHeight(int rows) { return std::min(rows, 8) * popup().RowHeight() + 2; }
    QRect BelowField(int height) {
        return QRect(field->mapToGlobal(QPoint(0, field->height())), QSize(field->width(), height));
    }

    // The field keeps the keyboard whatever happens to the list.
    void ExpectFieldKeepsFocus() {
        EXPECT_EQ(QApplication::focusWidget(), field);
        EXPECT_EQ(QApplication::activeWindow(), dlg.get());
        EXPECT_EQ(QGuiApplication::focusWindow(), dlg->windowHandle());
        EXPECT_FALSE(popup().isActiveWindow());
    }

    std::unique_ptr<QDialog> dlg;
    CSuggestEdit* field = nullptr;
    QPushButton* button = nullptr;
    int clicks = 0;
    std::vector<std::string> log;
};

}  // namespace

TEST_F(SuggestEditTest, TypingOpensTheSortedMatchesBelowTheField) {
    Add({"000011-华夏大盘", "110003-易基50", "000001-华夏成长", "000021-华夏优势", "ABC001-x", "abc002-y"});
    EXPECT_FALSE(popup().isVisible());

    Type("0000");
    ASSERT_TRUE(popup().isVisible());
    EXPECT_EQ(popup().Matches(),
              (std::vector<std::string>{G("000001-华夏成长"), G("000011-华夏大盘"), G("000021-华夏优势")}));
    EXPECT_EQ(popup().geometry(), BelowField(ExpectedHeight(3)));
    EXPECT_FALSE(popup().ScrollBar()->isVisible());
    EXPECT_EQ(popup().SelectedRow(), -1);
    EXPECT_EQ(field->SuggestText(), "0000");
    EXPECT_EQ(log, std::vector<std::string>(4, "text"));
    ExpectFieldKeepsFocus();

    Type("1");
    EXPECT_EQ(popup().Matches(), (std::vector<std::string>{G("000011-华夏大盘")}));
    EXPECT_EQ(popup().height(), ExpectedHeight(1));

    // Chinese arrives as committed input-method text.
    field->clear();
    Type("000001-");
    Commit(QStringLiteral("华夏"));
    EXPECT_EQ(field->SuggestText(), G("000001-华夏"));
    EXPECT_EQ(popup().Matches(), (std::vector<std::string>{G("000001-华夏成长")}));
    Commit(QStringLiteral("大"));
    EXPECT_FALSE(popup().isVisible());

    // A character GBK cannot hold does not pass for the '?' it would become.
    field->ClearCandidates();
    Add({"000001-?", "000001-华夏成长", "110003-易基50", "ABC001-x", "abc002-y"});
    field->setText(QStringLiteral("000001-"));
    ASSERT_EQ(popup().RowCount(), 2);
    Commit(QString::fromUtf8("\xF0\x9F\x98\x80"));
    EXPECT_FALSE(popup().isVisible());

    // Letters match in either case; the name alone never matches.
    field->clear();
    Type("aBc");
    EXPECT_EQ(popup().Matches(), (std::vector<std::string>{"ABC001-x", "abc002-y"}));
    for (int i = 0; i < 3; ++i) QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_FALSE(popup().isVisible());
    Commit(QStringLiteral("华夏"));
    EXPECT_FALSE(popup().isVisible());

    // Text set by the program matches like typing.
    field->setText(QStringLiteral("1100"));
    ASSERT_TRUE(popup().isVisible());
    EXPECT_EQ(popup().Matches(), (std::vector<std::string>{G("110003-易基50")}));
    ExpectFieldKeepsFocus();
}

TEST_F(SuggestEditTest, ListKeysStepAndWriteTheHighlightedEntry) {
    AddNumbered(12);
    Type("1");
    ASSERT_TRUE(popup().isVisible());
    ASSERT_EQ(popup().PageRows(), 8);
    log.clear();

    Key(Qt::Key_Down);
    EXPECT_EQ(popup().SelectedRow(), 0);
    EXPECT_EQ(field->text(), Entry(0));
    EXPECT_EQ(field->SuggestText(), popup().Matches()[0]);
    EXPECT_EQ(field->cursorPosition(), field->text().size());
    EXPECT_FALSE(field->hasSelectedText());
    EXPECT_TRUE(field->isModified());
    EXPECT_FALSE(field->IsBusy());
    // The list keeps showing the matches of the text typed, not of the entry written.
    EXPECT_EQ(popup().RowCount(), 12);
    EXPECT_EQ(log, (std::vector<std::string>{"text", "picked"}));

    struct Step {
        Qt::Key key;
        int sel;
        int top;
    };
    const Step steps[] = {
        {Qt::Key_Down, 1, 0},     {Qt::Key_Up, 0, 0},        {Qt::Key_Up, 11, 4},  // Up wraps to the end
        {Qt::Key_Down, 0, 0},                                                      // Down wraps to the top
        {Qt::Key_PageDown, 8, 1}, {Qt::Key_PageDown, 11, 4}, {Qt::Key_PageDown, 11, 4},  // Page keys stop
        {Qt::Key_PageUp, 3, 3},   {Qt::Key_PageUp, 0, 0},    {Qt::Key_PageUp, 0, 0},
        {Qt::Key_End, 11, 4},     {Qt::Key_Home, 0, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(QKeySequence(s.key).toString().toStdString());
        Key(s.key);
        EXPECT_TRUE(popup().isVisible());
        EXPECT_EQ(popup().SelectedRow(), s.sel);
        EXPECT_TRUE(zeza::test::WaitUntil([&] { return popup().TopRow() == s.top; }, 2000))
            << popup().TopRow();
        EXPECT_EQ(field->text(), Entry(s.sel));
        EXPECT_EQ(popup().ScrollBar()->value(), s.top);
    }

    // Left and Right move the caret and leave the list alone.
    Key(Qt::Key_Left);
    EXPECT_EQ(field->cursorPosition(), field->text().size() - 1);
    EXPECT_EQ(popup().SelectedRow(), 0);
    EXPECT_TRUE(popup().isVisible());
    ExpectFieldKeepsFocus();
}

TEST_F(SuggestEditTest, WithTheListClosedTheKeysAreCaretKeys) {
    AddNumbered(3);
    Type("1000x");  // no match
    ASSERT_FALSE(popup().isVisible());
    log.clear();

    Key(Qt::Key_Home);
    EXPECT_EQ(field->cursorPosition(), 0);
    Key(Qt::Key_End);
    EXPECT_EQ(field->cursorPosition(), 5);
    for (Qt::Key k : {Qt::Key_Down, Qt::Key_Up, Qt::Key_PageDown, Qt::Key_PageUp}) {
        Key(k);
        EXPECT_EQ(field->text(), QStringLiteral("1000x"));
        EXPECT_FALSE(popup().isVisible());
    }
    Key(Qt::Key_Home);
    EXPECT_EQ(field->cursorPosition(), 0);
    EXPECT_TRUE(log.empty());

    // Closed by Escape, the list stays closed and Down is a caret key again.
    Key(Qt::Key_End);
    QTest::keyClick(field, Qt::Key_Backspace);
    ASSERT_TRUE(popup().isVisible());
    Key(Qt::Key_Escape);
    Key(Qt::Key_Down);
    EXPECT_FALSE(popup().isVisible());
    EXPECT_EQ(field->text(), QStringLiteral("1000"));
}

TEST_F(SuggestEditTest, EnterClosesTheListFirstAndThenPressesTheDefaultButton) {
    AddNumbered(3);
    Type("1");
    ASSERT_TRUE(popup().isVisible());
    Key(Qt::Key_Down);

    Key(Qt::Key_Return);
    EXPECT_FALSE(popup().isVisible());
    EXPECT_EQ(field->text(), Entry(0));
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(dlg->isVisible());
    ExpectFieldKeepsFocus();

    Type("0");  // "100000-基金000": no match, stays closed
    QTest::keyClick(field, Qt::Key_Backspace);
    ASSERT_TRUE(popup().isVisible());
    Key(Qt::Key_Enter);  // the keypad's Enter alike
    EXPECT_FALSE(popup().isVisible());
    EXPECT_EQ(clicks, 0);

    Key(Qt::Key_Return);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
}

TEST_F(SuggestEditTest, EscapeClosesTheListWithoutReachingTheDialog) {
    // A window shortcut on a list key does not fire while the list is open.
    int shortcuts = 0;
    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Down), dlg.get());
    QObject::connect(shortcut, &QShortcut::activated, [&] { ++shortcuts; });
    AddNumbered(3);
    Type("1");
    Key(Qt::Key_Down);
    EXPECT_EQ(popup().SelectedRow(), 0);
    EXPECT_EQ(shortcuts, 0);

    Key(Qt::Key_Escape);
    EXPECT_FALSE(popup().isVisible());
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), 0);
    ExpectFieldKeepsFocus();

    Key(Qt::Key_Down);
    EXPECT_EQ(shortcuts, 1);
    Key(Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
}

TEST_F(SuggestEditTest, UpFirstScrollsRowByRowUpToFiftyRowsAndJumpsBeyond) {
    PaintCounter paints;
    popup().installEventFilter(&paints);

    AddNumbered(20);
    Type("1");
    QApplication::processEvents();
    paints.count = 0;
    QElapsedTimer clock;
    clock.start();
    Key(Qt::Key_Up);
    EXPECT_EQ(popup().SelectedRow(), 19);
    EXPECT_LT(popup().TopRow(), 12);  // the key returns at once, the rows follow on a timer
    EXPECT_TRUE(zeza::test::WaitUntil([&] { return popup().TopRow() == 12; }, 2000)) << popup().TopRow();
    EXPECT_GE(paints.count, 12);
    EXPECT_GE(clock.elapsed(), 12 * 10);

    Key(Qt::Key_Escape);
    field->ClearCandidates();
    for (int i = 0; i < 60; ++i) field->AddCandidate("2" + std::to_string(10000 + i));
    field->clear();
    Type("2");
    ASSERT_EQ(popup().RowCount(), 60);
    QApplication::processEvents();
    paints.count = 0;
    Key(Qt::Key_Up);
    EXPECT_EQ(popup().SelectedRow(), 59);
    EXPECT_EQ(popup().TopRow(), 52);
    EXPECT_LE(paints.count, 4);
}

TEST_F(SuggestEditTest, ClickTakesTheEntryKeepsItHighlightedForHalfASecondAndCloses) {
    AddNumbered(12);
    Type("1");
    ASSERT_TRUE(popup().isVisible());
    log.clear();

    bool midVisible = false;
    int midSel = -2;
    QString midText;
    QTimer::singleShot(250, [&] {
        midVisible = popup().isVisible();
        midSel = popup().SelectedRow();
        midText = field->text();
    });
    const QString expected = Entry(2);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(&popup(), Qt::LeftButton, {}, RowPoint(2));
    EXPECT_TRUE(popup().isVisible());  // the click returns at once, the list closes on a timer
    EXPECT_TRUE(zeza::test::WaitUntil([&] { return !popup().isVisible(); }, 3000));
    const qint64 elapsed = clock.elapsed();

    EXPECT_TRUE(midVisible);
    EXPECT_EQ(midSel, 2);
    EXPECT_EQ(midText, expected);
    EXPECT_GE(elapsed, 495);
    EXPECT_LT(elapsed, 3000);
    EXPECT_FALSE(popup().isVisible());
    EXPECT_EQ(field->text(), expected);
    EXPECT_EQ(field->cursorPosition(), expected.size());
    EXPECT_EQ(log, (std::vector<std::string>{"text", "picked"}));
    ExpectFieldKeepsFocus();

    // A key meanwhile closes the list before it is handled: Down steps no highlight.
    field->setText(QStringLiteral("1"));
    ASSERT_TRUE(popup().isVisible());
    const QString third = Entry(3);
    QTest::mouseClick(&popup(), Qt::LeftButton, {}, RowPoint(3));
    Key(Qt::Key_Down);
    EXPECT_FALSE(popup().isVisible());
    EXPECT_EQ(field->text(), third);
}

TEST_F(SuggestEditTest, TheHighlightFollowsTheMouse) {
    AddNumbered(12);
    Type("1");
    Hover(RowPoint(3));
    EXPECT_EQ(popup().SelectedRow(), 3);
    EXPECT_EQ(field->text(), QStringLiteral("1"));  // hovering writes nothing
    Hover(QPoint(2, RowPoint(5).y()));              // the strip at the left edge is no row
    EXPECT_EQ(popup().SelectedRow(), 3);
    Key(Qt::Key_Down);
    EXPECT_EQ(popup().SelectedRow(), 4);
    EXPECT_EQ(field->text(), Entry(4));

    // A rebuild with as many matches keeps the highlighted row; another count clears it.
    field->ClearCandidates();
    Add({"100001-a", "100002-b", "200001-c"});
    field->setText(QStringLiteral("1"));
    Hover(RowPoint(1));
    ASSERT_EQ(popup().SelectedRow(), 1);
    Type("0");
    EXPECT_EQ(popup().SelectedRow(), 1);
    Type("0001");
    EXPECT_EQ(popup().RowCount(), 1);
    EXPECT_EQ(popup().SelectedRow(), -1);
}

TEST_F(SuggestEditTest, OneEightAndNineMatchesGiveTheirHeights) {
    for (int n : {1, 8, 9}) {
        SCOPED_TRACE(n);
        field->ClearCandidates();
        field->clear();
        AddNumbered(n);
        Type("1");
        ASSERT_TRUE(popup().isVisible());
        EXPECT_EQ(popup().geometry(), BelowField(ExpectedHeight(n)));
        EXPECT_EQ(popup().PageRows(), std::min(n, 8));
        EXPECT_EQ(popup().ScrollBar()->isVisible(), n == 9);
        if (n == 9) {
            EXPECT_EQ(popup().ScrollBar()->pageStep(), 8);
            EXPECT_EQ(popup().ScrollBar()->maximum(), 1);
            // The scroll bar moves the rows, not the highlight.
            QTest::mouseClick(const_cast<QScrollBar*>(popup().ScrollBar()), Qt::LeftButton, {},
                              QPoint(5, popup().ScrollBar()->height() - 5));
            EXPECT_EQ(popup().TopRow(), 1);
            EXPECT_EQ(popup().SelectedRow(), -1);
            EXPECT_TRUE(popup().isVisible());
        }
    }
    ExpectFieldKeepsFocus();
}

TEST_F(SuggestEditTest, TheUserSizeIsKeptAndNeverNarrowerThanTheField) {
    AddNumbered(2);
    Type("1");
    const QSize initial = popup().size();
    DragGrip(QPoint(50, 40));
    EXPECT_TRUE(popup().HasUserSize());
    EXPECT_EQ(popup().size(), initial + QSize(50, 40));
    EXPECT_TRUE(popup().isVisible());

    // Empty space below the rows keeps the list; the frame does not.
    QTest::mouseClick(&popup(), Qt::LeftButton, {}, QPoint(30, popup().height() - 30));
    EXPECT_TRUE(popup().isVisible());
    EXPECT_EQ(field->text(), QStringLiteral("1"));
    QTest::mouseClick(&popup(), Qt::LeftButton, {}, QPoint(30, 0));
    EXPECT_FALSE(popup().isVisible());

    // Later openings reuse the size, even with fewer rows.
    Type("00001");
    ASSERT_EQ(popup().RowCount(), 1);
    EXPECT_EQ(popup().size(), initial + QSize(50, 40));
    EXPECT_EQ(popup().pos(), BelowField(1).topLeft());

    // Shrinking stops at the field's width and, for a single row, at that row.
    DragGrip(QPoint(-400, -400));
    EXPECT_EQ(popup().size(), QSize(field->width(), ExpectedHeight(1)));
}

TEST_F(SuggestEditTest, ClicksElsewhereRightClicksAndFocusLossClose) {
    AddNumbered(3);
    Type("1");
    ASSERT_TRUE(popup().isVisible());

    // A click into the field itself keeps the list.
    QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_TRUE(popup().isVisible());

    // A click on the dialog's empty area, as the window system delivers it.
    const QPoint empty(dlg->width() - 4, dlg->height() - 4);
    ASSERT_EQ(dlg->childAt(empty), nullptr);
    QTest::mouseClick(dlg->windowHandle(), Qt::LeftButton, {}, empty);
    EXPECT_FALSE(popup().isVisible());
    ExpectFieldKeepsFocus();

    ASSERT_TRUE(Reopen());
    QTest::mouseClick(&popup(), Qt::RightButton, {}, RowPoint(1));
    EXPECT_FALSE(popup().isVisible());
    EXPECT_EQ(field->text(), QStringLiteral("1"));

    ASSERT_TRUE(Reopen());
    button->setFocus();
    EXPECT_FALSE(popup().isVisible());
}

TEST_F(SuggestEditTest, MovingOrResizingTheHostOrSwitchingApplicationsCloses) {
    AddNumbered(3);
    Type("1");
    ASSERT_TRUE(popup().isVisible());
    // Left alone, the list stays open.
    QTest::qWait(500);
    EXPECT_TRUE(popup().isVisible());

    dlg->move(dlg->pos() + QPoint(30, 20));
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !popup().isVisible(); }, 1000));
    EXPECT_LE(clock.elapsed(), 450);
    ExpectFieldKeepsFocus();

    ASSERT_TRUE(Reopen());
    EXPECT_EQ(popup().geometry(), BelowField(ExpectedHeight(3)));
    dlg->resize(dlg->size() + QSize(10, 0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !popup().isVisible(); }, 1000));

    ASSERT_TRUE(Reopen());
    QApplicationStateChangeEvent inactive(Qt::ApplicationInactive);
    QApplication::sendEvent(qApp, &inactive);
    EXPECT_FALSE(popup().isVisible());
}

TEST_F(SuggestEditTest, ReloadingReplacesTheEntries) {
    AddNumbered(3);
    Type("1");
    ASSERT_TRUE(popup().isVisible());
    // Each refresh pass hands over a fresh list: the rows shown belong to the old one.
    for (int pass = 0; pass < 3; ++pass) {
        field->ClearCandidates();
        EXPECT_FALSE(popup().isVisible());
        AddNumbered(4);
    }
    EXPECT_EQ(popup().Candidates().size(), 4u);
    Type("0");
    EXPECT_EQ(popup().RowCount(), 4);
    Key(Qt::Key_Down);
    EXPECT_EQ(field->text(), Entry(0));
}

TEST_F(SuggestEditTest, TextSetBeforeTheWindowShowsOpensOnceItIsThere) {
    QDialog other;
    auto* layout = new QVBoxLayout(&other);
    auto* edit = new CSuggestEdit(&other);
    layout->addWidget(edit);
    edit->Setup();
    edit->AddCandidate(G("000001-华夏成长"));
    edit->setText(QStringLiteral("000001"));
    EXPECT_FALSE(edit->Popup().isVisible());
    other.setGeometry(200, 150, 300, 100);
    other.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return edit->Popup().isVisible(); }, 1000));
    EXPECT_EQ(edit->Popup().pos(), edit->mapToGlobal(QPoint(0, edit->height())));
}

TEST(SuggestEditPlainTest, BeforeSetupItIsAPlainEdit) {
    QDialog dlg;
    auto* layout = new QVBoxLayout(&dlg);
    auto* edit = new CSuggestEdit(&dlg);
    auto* ok = new QPushButton(QStringLiteral("OK"), &dlg);
    ok->setDefault(true);
    layout->addWidget(edit);
    layout->addWidget(ok);
    QObject::connect(ok, &QPushButton::clicked, &dlg, &QDialog::accept);
    dlg.show();
    edit->setFocus();
    EXPECT_EQ(edit->Kind(), -1);
    edit->AddCandidate("100001-a");
    EXPECT_TRUE(edit->Popup().Candidates().empty());
    QTest::keyClicks(edit, "1");
    EXPECT_FALSE(edit->Popup().isVisible());
    EXPECT_TRUE(edit->SuggestText().empty());
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

TEST_F(SuggestEditTest, DrawsFrameRowsHighlightAndGrip) {
    Add({"000001-华夏成长", "000011-华夏大盘", "000021-华夏优势", "040002-华安Ａ股", "001001-华夏债券A/B",
         "001003-华夏债券C类", "002001-华夏回报", "003003-华夏现金增利", "510050-华夏上证50ETF",
         "159902-华夏中小板ETF", "000031-华夏复兴混合型证券投资基金 & 长名称"});
    Type("0");
    ASSERT_EQ(popup().RowCount(), 9);
    Key(Qt::Key_Down);
    Key(Qt::Key_Down);
    const QImage img = popup().grab().toImage();
    if (const QByteArray out = qgetenv("ZEZA_SUGGEST_GRAB"); !out.isEmpty())
        img.save(QString::fromLocal8Bit(out));

    const QPalette pal = popup().palette();
    const int rh = popup().RowHeight();
    EXPECT_EQ(img.pixelColor(0, 0), pal.color(QPalette::Text));
    EXPECT_EQ(img.pixelColor(img.width() / 3, img.height() - 1), pal.color(QPalette::Text));
    // Row 1 highlighted from the left edge; row 0 on the list background.
    EXPECT_EQ(img.pixelColor(1, 1 + rh + rh / 2), pal.color(QPalette::Highlight));
    EXPECT_EQ(img.pixelColor(1, 1 + rh / 2), pal.color(QPalette::Base));
    // Beside the scroll bar the grip corner has the button face.
    const int sb = popup().ScrollBar()->width();
    EXPECT_EQ(img.pixelColor(img.width() - 1 - sb + 1, img.height() - 1 - sb + 1),
              pal.color(QPalette::Button));
    // Text was drawn in the rows.
    int dark = 0;
    for (int x = 3; x < img.width() - sb - 1; ++x)
        if (img.pixelColor(x, 1 + rh / 2) != pal.color(QPalette::Base)) ++dark;
    EXPECT_GT(dark, 10);
}

// The main window's search field with the entries and initials a refresh pass
// hands over: "hxcz" lists 华夏成长, a click takes it, and 查找 finds its row;
// typed initials alone are looked up as well.
using SuggestEditMainWindowTest = zeza::test::MainWindowFixture;

TEST_F(SuggestEditMainWindowTest, InitialsFindAFundToPickAndToLookUp) {
    { zeza::CFundDb startup; }
    zeza::test::AddNetValue("000011", 2.9, 1.234, 1.230, "2008-11-14");
    zeza::test::AddNetValue("000001", 3.1, 1.056, 1.061, "2008-11-14");
    zeza::test::AddNetValue("110003", 1.3, 1.2, 1.1, "2008-11-14");
    ShowMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    std::vector<std::string> entries;
    ASSERT_EQ(zeza::LoadSuggestionList(entries), 1);
    zeza::PinyinInitials pinyin;
    dlg->TakeCandidates(entries, pinyin.OfEntries(entries));

    CSuggestEdit* field = dlg->SearchField();
    field->setFocus();
    QTest::keyClicks(field, "hxcz");
    CSuggestPopup& popup = field->Popup();
    ASSERT_TRUE(popup.isVisible());
    ASSERT_GE(popup.RowCount(), 1);
    EXPECT_EQ(popup.Matches().front(), G("000001-华夏成长"));
    QTest::mouseClick(&popup, Qt::LeftButton, {}, QPoint(30, 1 + popup.RowHeight() / 2));
    EXPECT_EQ(field->text(), QStringLiteral("000001-华夏成长"));
    EXPECT_TRUE(zeza::test::WaitUntil([&] { return !popup.isVisible(); }, 3000));

    dlg->OnLatest();
    ASSERT_EQ(dlg->List()->GetItemCount(), 3);
    dlg->OnFind();
    ASSERT_EQ(dlg->List()->GetSelectedRows().size(), 1u);
    EXPECT_EQ(dlg->List()->GetItemText(dlg->List()->GetSelectedRows()[0], 1), "000001");

    field->setText(QStringLiteral("HXdp"));
    dlg->List()->clearSelection();
    dlg->m_nFindNext = 0;
    dlg->OnFind();
    ASSERT_EQ(dlg->List()->GetSelectedRows().size(), 1u);
    EXPECT_EQ(dlg->List()->GetItemText(dlg->List()->GetSelectedRows()[0], 1), "000011");
}
