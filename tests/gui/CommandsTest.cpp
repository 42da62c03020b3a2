#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <utility>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "app/CFundDlg.h"
#include "db/SqlAccess.h"
#include "dialogs/CHoldingDlg.h"
#include "platform/FileChooser.h"
#include "platform/GbkCodec.h"
#include "platform/InstallKind.h"
#include "platform/MessageBox.h"
#include "platform/ServerConfig.h"
#include "platform/Shell.h"
#include "suggest/CSuggestEdit.h"
#include "tables/CFundListCtrl.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using namespace zeza;
using namespace zeza::test;

namespace {

// The template catalogue with net values for five funds, three holdings and
// the main window on the quote date; no background refresh.
struct CommandsFixture : MainWindowFixture {
    void SetUp() override {
        MainWindowFixture::SetUp();
        { CFundDb startup; }
        ASSERT_TRUE(
            Exec("INSERT INTO fu_stk VALUES ('000001',3.1,1.056,1.061,'2008-11-14'),"
                 "('000011',2.9,1.234,1.230,'2008-11-14'),('000021',1.5,1.5,1.5,'2008-11-14'),"
                 "('040002',1.2,1.1,1.0,'2008-11-14'),('110003',1.3,1.2,1.1,'2008-11-14');"));
        AddHolding("000001", 1000.123, 900.456, "a");
        AddHolding("000011", 500, 400, "b");
        AddHolding("000021", 300, 200, "c");
        ShowMainWindow();
    }

    CFundListCtrl* List() { return dlg->List(); }
    void Select(std::initializer_list<int> rows) {
        List()->clearSelection();
        for (int r : rows)
            List()->selectionModel()->select(List()->model()->index(r, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    int RowOf(const char* code) {
        for (int r = 0; r < List()->GetItemCount(); ++r)
            if (List()->GetItemText(r, 1) == code) return r;
        return -1;
    }
    // Runs command, its message boxes answered with answer: the one box it showed.
    MessageBox::Request Told(void (CFundDlg::*command)(), int answer = MessageBox::kOk) {
        MessageBox::ClearRequests();
        MessageBox::SetNextAnswer(answer);
        (dlg.get()->*command)();
        EXPECT_EQ(MessageBox::Requests().size(), 1u);
        return MessageBox::Requests().empty() ? MessageBox::Request{} : MessageBox::Requests().back();
    }
};

}  // namespace

TEST_F(CommandsFixture, SearchFindsByCodeOrNameAndWraps) {
    dlg->OnLatest();
    ASSERT_EQ(List()->GetItemCount(), 5);
    dlg->SearchField()->setText(QStringLiteral("000001-华夏成长"));
    dlg->OnFind();
    const int hit = RowOf("000001");
    EXPECT_EQ(List()->GetSelectedRows(), std::vector<int>{hit});
    EXPECT_EQ(dlg->m_nFindNext, hit + 1);
    // The only match: the next search finds the same row again.
    dlg->OnFind();
    EXPECT_EQ(dlg->m_nFindNext, hit + 1);

    // Names: each press moves on to the next 华夏 fund and wraps.
    dlg->SearchField()->setText(QStringLiteral("华夏"));
    dlg->m_nFindNext = 0;
    std::vector<int> hits;
    for (int i = 0; i < 4; ++i) {
        dlg->OnFind();
        hits.push_back(dlg->m_nFindNext - 1);
    }
    EXPECT_EQ(hits[3], hits[0]);
    EXPECT_NE(hits[0], hits[1]);
    EXPECT_TRUE(MessageBox::Requests().empty());

    // A miss says so and starts again from the top.
    dlg->SearchField()->setText(QStringLiteral("A00001"));
    const auto miss = Told(&CFundDlg::OnFind);
    EXPECT_EQ(miss.text, QStringLiteral("没有找到匹配的条目。"));
    EXPECT_EQ(miss.caption, QStringLiteral("查询结果"));
    EXPECT_EQ(dlg->m_nFindNext, 0);

    // An empty field does nothing.
    dlg->SearchField()->clear();
    dlg->OnFind();
    EXPECT_EQ(MessageBox::Requests().size(), 1u);
}

TEST_F(CommandsFixture, DeleteAsksPerRowAndReloadsOnce) {
    dlg->OnHoldings();
    ASSERT_EQ(List()->GetItemCount(), 3);
    Select({0, 1, 2});
    const std::string middle = List()->GetItemText(1, 1);
    const QString firstQuestion = QStringLiteral("确定要从我的基金中删除“") +
                                  QString::fromStdString(GbkToUtf8(List()->GetItemText(0, 1))) +
                                  QString::fromStdString(GbkToUtf8(List()->GetItemText(0, 3))) +
                                  QStringLiteral("”吗？");
    MessageBox::SetNextAnswer(MessageBox::kOk);
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    MessageBox::SetNextAnswer(MessageBox::kOk);
    dlg->OnDeleteHolding();
    ASSERT_EQ(MessageBox::Requests().size(), 3u);
    EXPECT_EQ(MessageBox::Requests()[0].text, firstQuestion);
    EXPECT_EQ(List()->GetItemCount(), 1);
    EXPECT_EQ(List()->GetItemText(0, 1), middle);
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_count;"), "1");

    // All answers Cancel: nothing changes.
    MessageBox::ClearRequests();
    Select({0});
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    dlg->OnDeleteHolding();
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_count;"), "1");
}

TEST_F(CommandsFixture, FailedDeleteIsReported) {
    dlg->OnHoldings();
    Select({0});
    // A delete the database refuses.
    ASSERT_EQ(ExecSql("CREATE TRIGGER keep BEFORE DELETE ON fu_count BEGIN SELECT RAISE(ABORT,'kept'); END;"),
              0);
    MessageBox::SetNextAnswer(MessageBox::kOk);
    MessageBox::SetNextAnswer(MessageBox::kOk);
    dlg->OnDeleteHolding();
    ASSERT_EQ(MessageBox::Requests().size(), 2u);
    EXPECT_TRUE(MessageBox::Requests()[1].text.contains(QStringLiteral("未能删除")));
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_count;"), "3");
}

TEST_F(CommandsFixture, WatchCommandsActOnEverySelectedRow) {
    dlg->OnLatest();
    const int a = RowOf("000011");
    const int b = RowOf("110003");
    Select({a, b});
    dlg->OnAddWatch();
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_list WHERE look;"), "2");
    EXPECT_EQ(QueryOne("SELECT look FROM fu_list WHERE codel='110003';"), "-1");
    EXPECT_TRUE(List()->GetCheck(a));
    dlg->OnWatchList();
    ASSERT_EQ(List()->GetItemCount(), 2);
    Select({0});
    dlg->OnRemoveWatch();
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_list WHERE look;"), "1");
    EXPECT_EQ(List()->GetItemCount(), 2) << "the watch list is not reloaded by the command";
}

TEST_F(CommandsFixture, ContextMenuFollowsTheViewKind) {
    dlg->OnLatest();
    List()->clearSelection();
    dlg->OnRclickList();
    EXPECT_EQ(dlg->ContextMenu(), nullptr) << "no selection, no menu";
    Select({0});
    dlg->OnAddWatch();
    const std::pair<void (CFundDlg::*)(), QStringList> menus[] = {
        {&CFundDlg::OnLatest, {"添加到我的基金", "添加到我的关注", "-", "查看基金详细"}},
        {&CFundDlg::OnWatchList, {"从关注中删除", "添加到我的基金", "-", "查看基金详细"}},
        {&CFundDlg::OnHoldings,
         {"从我的基金中删除", "添加到我的关注", "编辑我的基金", "交易记录", "-", "查看基金详细"}}};
    for (const auto& [show, items] : menus) {
        (dlg.get()->*show)();
        Select({0});
        dlg->OnRclickList();
        EXPECT_EQ(MenuItems(dlg->ContextMenu()), items);
        dlg->ContextMenu()->hide();
    }
    // "查看基金详细" opens the fund's page.
    dlg->ContextMenu()->actions().last()->trigger();
    ASSERT_EQ(openedUrls.size(), 1);
    EXPECT_EQ(openedUrls[0], QString::fromStdString(ServerBaseUrl()) +
                                 "fund/fuskip.php?code=" + QString::fromStdString(List()->GetItemText(0, 1)));
    dlg->ContextMenu()->hide();
}

TEST_F(CommandsFixture, ClickShowsTheSelectionInTheStatusBar) {
    dlg->OnLatest();
    const int r = RowOf("000001");
    Select({r});
    dlg->OnClickList();
    EXPECT_EQ(dlg->StatusText(1), QStringLiteral("当前选中: 000001-华夏成长"));
    List()->clearSelection();
    dlg->OnClickList();
    EXPECT_EQ(dlg->StatusText(1), QString());

    // Real clicks: on a row, then on the empty area below the rows, which clears
    // the selection and so the status text.
    QWidget* area = List()->viewport();
    QTest::mouseClick(area, Qt::LeftButton, {}, List()->visualRect(List()->model()->index(r, 2)).center());
    EXPECT_EQ(dlg->StatusText(1), QStringLiteral("当前选中: 000001-华夏成长"));
    const QRect lastRow = List()->visualRect(List()->model()->index(List()->GetItemCount() - 1, 2));
    ASSERT_LT(lastRow.bottom() + 10, area->height());
    QTest::mouseClick(area, Qt::LeftButton, {}, QPoint(lastRow.center().x(), lastRow.bottom() + 10));
    EXPECT_EQ(List()->GetFirstSelectedRow(), -1);
    EXPECT_EQ(dlg->StatusText(1), QString());
    dlg->OnDblclkList();
    EXPECT_TRUE(openedUrls.isEmpty()) << "no selection, no page";
}

TEST_F(CommandsFixture, EditStartsFromTheStoredNumbers) {
    AddHolding("040002", 1000.1234, 123.4567, "x");
    dlg->OnHoldings();
    const int r = RowOf("040002");
    ASSERT_GE(r, 0);
    ASSERT_EQ(List()->GetItemText(r, 8), "1000.12");  // the view rounds; the editor must not
    Select({r});
    QString code, cost, units;
    ModalScript script;
    script.Then<CHoldingDlg>([&](CHoldingDlg* h) {
        code = Ctrl<QLineEdit>(h, "codeEdit")->text();
        cost = Ctrl<QLineEdit>(h, "costEdit")->text();
        units = Ctrl<QLineEdit>(h, "unitsEdit")->text();
        // Only the remark is edited.
        Ctrl<QLineEdit>(h, "remarkEdit")->setText(QStringLiteral("y"));
        Ctrl<QPushButton>(h, "saveButton")->click();
    });
    dlg->OnEditHolding();
    EXPECT_TRUE(script.AllStepsRan());
    EXPECT_EQ(code, QStringLiteral("040002-") + QString::fromStdString(GbkToUtf8(List()->GetItemText(r, 3))));
    EXPECT_EQ(cost, QStringLiteral("1000.1234"));
    EXPECT_EQ(units, QStringLiteral("123.4567"));
    EXPECT_EQ(QueryOne("SELECT tcost||' '||tcount||' '||remark FROM fu_count WHERE codec='040002';"),
              "1000.1234 123.4567 y");
    EXPECT_TRUE(MessageBox::Requests().empty());
}

TEST_F(CommandsFixture, DeleteActsOnTheHoldingsAskedAboutWhenAReloadCameBetween) {
    dlg->OnHoldings();
    List()->LoadHoldings(1);
    List()->LoadHoldings(1);  // by code, descending: 000021, 000011, 000001
    ASSERT_EQ(List()->GetItemText(0, 1), "000021");
    ASSERT_EQ(List()->GetItemText(2, 1), "000001");
    Select({0, 2});

    // Real boxes, answered from the event loop of each: while the first is open the
    // view is loaded afresh in its natural order, then "确定" is pressed; the second
    // is cancelled. (A refresh pass keeps the sort; a fresh load does not.)
    MessageBox::SetShowUnscriptedForTesting(true);
    auto press = [](QMessageBox* box, const QString& label) {
        for (QAbstractButton* b : box->buttons())
            if (b->text() == label) return b->click();
        ADD_FAILURE() << "no button " << label.toStdString();
    };
    ModalScript script;
    script
        .Then<QMessageBox>([&](QMessageBox* box) {
            dlg->OnHoldings();
            EXPECT_EQ(List()->GetItemText(0, 1), "000001") << "the reload put another holding in row 0";
            press(box, QStringLiteral("确定"));
        })
        .Then<QMessageBox>([&](QMessageBox* box) { press(box, QStringLiteral("取消")); });
    dlg->OnDeleteHolding();
    EXPECT_TRUE(script.AllStepsRan());

    ASSERT_EQ(MessageBox::Requests().size(), 2u);
    EXPECT_TRUE(MessageBox::Requests()[0].text.contains(QStringLiteral("000021")))
        << MessageBox::Requests()[0].text.toStdString();
    EXPECT_TRUE(MessageBox::Requests()[1].text.contains(QStringLiteral("000001")))
        << MessageBox::Requests()[1].text.toStdString();
    EXPECT_EQ(QueryOne("SELECT group_concat(codec) FROM (SELECT codec FROM fu_count ORDER BY codec);"),
              "000001,000011");
    EXPECT_EQ(List()->GetItemCount(), 2);
}

TEST_F(CommandsFixture, WatchCommandsActOnTheSelectedFundsWhenAFailureBoxIsShown) {
    dlg->OnLatest();
    List()->LoadLatest(1);
    List()->LoadLatest(1);  // by code, descending: 110003, 040002, 000021, 000011, 000001
    ASSERT_EQ(List()->GetItemText(0, 1), "110003");
    ASSERT_EQ(List()->GetItemText(1, 1), "040002");
    Select({0, 1});
    // The flag of 110003 cannot be stored.
    ASSERT_EQ(ExecSql("CREATE TRIGGER keep BEFORE UPDATE OF look ON fu_list WHEN NEW.codel='110003' "
                      "BEGIN SELECT RAISE(ABORT,'kept'); END;"),
              0);

    // The failure box is a real one; while it is open a refresh pass reloads the view.
    MessageBox::SetShowUnscriptedForTesting(true);
    ModalScript script;
    script.Then<QMessageBox>([&](QMessageBox* box) {
        dlg->ReloadCurrentView();
        box->buttons().constFirst()->click();
    });
    dlg->OnAddWatch();
    EXPECT_TRUE(script.AllStepsRan());

    ASSERT_EQ(MessageBox::Requests().size(), 1u);
    EXPECT_EQ(MessageBox::Requests()[0].text, QStringLiteral("关注状态未能保存，请稍后再试。"));
    EXPECT_EQ(QueryOne("SELECT group_concat(codel) FROM fu_list WHERE look;"), "040002");
    EXPECT_TRUE(List()->GetCheck(RowOf("040002")));
    EXPECT_FALSE(List()->GetCheck(RowOf("110003")));
}

TEST_F(CommandsFixture, LogoFollowsOnlyTheLeftButton) {
    QWidget* logo = Ctrl(dlg.get(), "logoPicture");
    ASSERT_NE(logo, nullptr);
    QTest::mouseClick(logo, Qt::RightButton, {}, QPoint(20, 20));
    QTest::mouseClick(logo, Qt::MiddleButton, {}, QPoint(20, 20));
    EXPECT_TRUE(openedUrls.isEmpty());
    QTest::mouseClick(logo, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(openedUrls, QStringList{QString::fromStdString(ServerBaseUrl())});
}

TEST_F(CommandsFixture, ExportThenImportDoublesTheHoldings) {
    const QString path = QString::fromStdString((dir.Path() / "mine.TXT").string());
    FileChooser::SetNextAnswer(path);
    EXPECT_EQ(Told(&CFundDlg::OnExport).text, QStringLiteral("保存成功:\n") + path);
    const std::string header = G("代码,成本,份数,备注\r\n");
    EXPECT_EQ(zeza::test::ReadFileBytes(path.toStdString()).substr(0, header.size()), header);

    // The file exists now: the overwrite question comes first; Cancel stops.
    FileChooser::SetNextAnswer(path);
    EXPECT_EQ(Told(&CFundDlg::OnExport, MessageBox::kCancel).text,
              QStringLiteral("文件已存在，是否覆盖原数据？"));

    dlg->OnHoldings();
    FileChooser::SetNextAnswer(path);
    EXPECT_TRUE(Told(&CFundDlg::OnImport).text.startsWith(QStringLiteral("数据导入成功。")));
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_count;"), "6");
    EXPECT_EQ(List()->GetItemCount(), 6) << "the holdings view is reloaded";
    EXPECT_TRUE(dlg->SummaryLine()->text().contains(QStringLiteral("市值:")));

    // A cancelled chooser does nothing.
    MessageBox::ClearRequests();
    FileChooser::SetNextAnswer(QString());
    dlg->OnImport();
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_count;"), "6");
}

TEST_F(CommandsFixture, FailedExportAndImportAreReportedAndChangeNothing) {
    // Each failure is told in one box; answers are queued so none blocks.
    auto run = [&](void (CFundDlg::*command)(), const QString& path) {
        FileChooser::SetNextAnswer(path);
        const auto told = Told(command);
        EXPECT_EQ(told.caption, QStringLiteral("提示"));
        return told.text;
    };
    // Below a plain file nothing can be written, not even by root.
    zeza::test::WriteFileBytes(dir.Path() / "plain", "x");
    const QString blocked = QString::fromStdString((dir.Path() / "plain" / "mine.TXT").string());
    EXPECT_EQ(run(&CFundDlg::OnExport, blocked), QStringLiteral("保存失败，无法写入文件:\n") + blocked);

    // A folder chosen as the file to import cannot be read.
    std::filesystem::create_directory(dir.Path() / "folder.TXT");
    const QString folder = QString::fromStdString((dir.Path() / "folder.TXT").string());
    EXPECT_EQ(run(&CFundDlg::OnImport, folder), QStringLiteral("导入失败，无法读取文件:\n") + folder);
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_count;"), "3");

    // Another connection keeps the write lock beyond the busy timeout.
    const QString file = QString::fromStdString((dir.Path() / "in.TXT").string());
    zeza::test::WriteFileBytes(file.toStdString(), G("代码,成本,份数,备注\r\n") + "000001,1,1,x\r\n");
    SqliteConnection other;
    ASSERT_TRUE(other.Open());
    ASSERT_EQ(other.Exec("BEGIN IMMEDIATE;"), SQLITE_OK);
    EXPECT_EQ(run(&CFundDlg::OnImport, file), QStringLiteral("导入失败，数据库正忙，请稍后再试。"));
    other.Close();
    EXPECT_EQ(QueryOne("SELECT COUNT(*) FROM fu_count;"), "3");
}

TEST_F(CommandsFixture, PackagedProgramLeavesUpdatesToThePackageManager) {
    // A program file whose prefix carries the package's marker; the server
    // would offer a newer version, but is never asked.
    const auto prefix = dir.Path() / "usr";
    std::filesystem::create_directories(prefix / "bin");
    std::filesystem::create_directories((prefix / kPackageMarker).parent_path());
    zeza::test::WriteFileBytes((prefix / kPackageMarker).string(), "package\n");
    CFundDb::SetProgramPathForTesting((prefix / "bin" / "Zeza").string());
    SetServerBaseUrlForTesting("http://127.0.0.1:1/");
    EXPECT_EQ(Told(&CFundDlg::OnUpgrade).text, QString::fromUtf8(kPackageUpdateText));
    CFundDb::SetProgramPathForTesting("");
}

TEST_F(CommandsFixture, UpgradeReportsFailureAndNoNewerVersion) {
    SetServerBaseUrlForTesting("http://127.0.0.1:1/");  // nothing listens there
    const auto told = Told(&CFundDlg::OnUpgrade);
    EXPECT_EQ(told.text, QStringLiteral("升级失败，可能防火墙阻止了升级。\n请到") +
                             QString::fromStdString(HomeHost()) + QStringLiteral("下载最新版。"));
    EXPECT_EQ(told.icon, MessageBox::Icon::Information);
}
