// The commands of the main window: search, clicks and menus on the fund list,
// holdings and watch flags, and the entries of the "更多 >>" menu.
#include "app/CFundDlg.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QMenu>

#include "dialogs/CAboutDlg.h"
#include "dialogs/CAlertSettingsDlg.h"
#include "dialogs/CDownloadProgressDlg.h"
#include "dialogs/CHoldingDlg.h"
#include "dialogs/CSecurityDlg.h"
#include "dialogs/CTradeDlg.h"
#include "dialogs/LedgerNotice.h"
#include "exchange/ExchangeTexts.h"
#include "ledger/Ledger.h"
#include "platform/FileChooser.h"
#include "platform/GbkQString.h"
#include "platform/InstallKind.h"
#include "platform/MessageBox.h"
#include "platform/ServerConfig.h"
#include "suggest/CSuggestEdit.h"
#include "suggest/FindRow.h"
#include "tables/CFundListCtrl.h"

namespace zeza {

// The search reads a row's code and name where every view has them.
static_assert(kFindCodeColumn == kCodeColumn && kFindNameColumn == kNameColumn);

namespace {

// The trades file as the chooser offers it; the exchange's boxes are the holdings file's.
// The trades file is comma-separated text: offered as such, so a spreadsheet opens it.
constexpr const char* kTradesFileName = "ZezaTrades.csv";
constexpr const char* kTradesFileFilter = "CSV 文件(*.csv)";
constexpr const char* kTradesFileSuffix = "csv";
// At most this many reasons of skipped lines are listed in the import's box.
constexpr size_t kReasonsShown = 10;

}  // namespace

void CFundDlg::OnFind() {
    const std::string text = QStringToGbk(SearchField()->text());
    if (text.empty()) return;
    CFundListCtrl* list = List();
    // A row's initials are those the refresh pass gave with its suggestion entry.
    CSuggestEdit* field = SearchField();
    const int row = FindRow(
        text, m_nFindNext, list->GetItemCount(), [list](int r, int c) { return list->GetItemText(r, c); },
        [list, field](int r) {
            return field->InitialsOf(list->GetItemText(r, kCodeColumn) + "-" +
                                     list->GetItemText(r, kNameColumn));
        });
    m_nFindNext = row;
    if (row < 0) {
        m_nFindNext = 0;
        MessageBox::Show(this, QStringLiteral("没有找到匹配的条目。"), QStringLiteral("查询结果"),
                         MessageBox::Buttons::Ok, MessageBox::Icon::None);
        return;
    }
    // The found row joins the selection; rows selected before stay selected.
    list->selectionModel()->select(list->model()->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->setFocus();
    list->scrollTo(list->model()->index(row, 0));
    m_nFindNext = row + 1;
}

void CFundDlg::OnClickList() {
    const int row = List()->GetFirstSelectedRow();
    if (row < 0) {
        SetStatusText(QString(), 1);
        return;
    }
    // About every second click the hint starts to show over the list.
    if (std::rand() % 2 == 0) List()->setToolTip(QStringLiteral("双击查看详细信息"));
    SetStatusText(QStringLiteral("当前选中: ") + GbkToQString(List()->GetItemText(row, kCodeColumn)) +
                      QStringLiteral("-") + GbkToQString(List()->GetItemText(row, kNameColumn)),
                  1);
}

QString CFundDlg::DetailUrl(int row) const {
    return QString::fromStdString(ServerBaseUrl()) + QStringLiteral("fund/fuskip.php?code=") +
           GbkToQString(List()->GetItemText(row, kCodeColumn));
}

void CFundDlg::OnDblclkList() {
    OnViewDetail();
}

void CFundDlg::OnViewDetail() {
    const int row = List()->GetFirstSelectedRow();
    if (row >= 0) OpenUrl(DetailUrl(row));
}

void CFundDlg::OnRclickList() {
    if (List()->GetFirstSelectedRow() < 0) return;
    delete m_pContextMenu;
    m_pContextMenu = new QMenu(this);
    m_pContextMenu->setStyleSheet(QStringLiteral("QMenu { background: white; }"));
    QMenu* m = m_pContextMenu;
    switch (GetViewDefinition(m_view).menu) {
        case ViewMenu::Watch:
            m->addAction(QStringLiteral("从关注中删除"), this, &CFundDlg::OnRemoveWatch);
            m->addAction(QStringLiteral("添加到我的基金"), this, &CFundDlg::OnMenuAddHolding);
            break;
        case ViewMenu::Holdings:
            m->addAction(QStringLiteral("从我的基金中删除"), this, &CFundDlg::OnDeleteHolding);
            m->addAction(QStringLiteral("添加到我的关注"), this, &CFundDlg::OnAddWatch);
            m->addAction(QStringLiteral("编辑我的基金"), this, &CFundDlg::OnEditHolding);
            m->addAction(QStringLiteral("交易记录"), this, &CFundDlg::OnTrades);
            break;
        case ViewMenu::Catalogue:
            m->addAction(QStringLiteral("添加到我的基金"), this, &CFundDlg::OnMenuAddHolding);
            m->addAction(QStringLiteral("添加到我的关注"), this, &CFundDlg::OnAddWatch);
            break;
    }
    m->addSeparator();
    m->addAction(QStringLiteral("查看基金详细"), this, &CFundDlg::OnViewDetail);
    raise();
    m->popup(QCursor::pos());
}

bool CFundDlg::RunHoldingEditor(bool edit) {
    CHoldingDlg dlg;
    const int row = List()->GetFirstSelectedRow();
    if (edit) {
        if (row < 0) return false;
        // The editor starts from the holding as stored, not from the rounded
        // numbers the view shows, so that a save keeps what was not changed.
        const long long idc = static_cast<long long>(List()->GetItemData(row));
        std::string code;
        std::string remark;
        double cost = 0;
        double units = 0;
        const int r = CFundDb::ReadHolding(idc, code, cost, units, remark);
        if (r != 1) {
            MessageBox::Show(this,
                             r != 0 ? QStringLiteral("未能读取这条记录，请稍后再试。")
                                    : QStringLiteral("这条记录已不存在。"),
                             QStringLiteral("提示"), MessageBox::Buttons::Ok, MessageBox::Icon::Warning);
            return false;
        }
        dlg.SetValues(code, cost, units, remark);
        dlg.SetMode(1, static_cast<int>(idc));
    } else if (row >= 0) {
        dlg.SetValues(List()->GetItemText(row, kCodeColumn), 0, 0, std::string());
    }
    return dlg.exec() == QDialog::Accepted;
}

void CFundDlg::OnAddHolding() {
    if (!RunHoldingEditor(false)) return;
    UpdateSummary();
    ReloadIfShown(ViewKind::Holdings);
}

void CFundDlg::OnMenuAddHolding() {
    if (RunHoldingEditor(false)) UpdateSummary();
}

void CFundDlg::OnEditHolding() {
    if (List()->GetFirstSelectedRow() < 0) return;
    if (!RunHoldingEditor(true)) return;
    UpdateSummary();
    ReloadIfShown(ViewKind::Holdings);
}

namespace {

// Ticks (watched) or clears the watch flag of every fund of the selection. The
// fund codes are all taken before anything is written, and a failure is told
// only once the walk is done: while a box is open a refresh pass may reload
// the view, and the rows then show other funds.
void SetWatchOfSelection(CFundDlg* dlg, bool watched) {
    CFundListCtrl* list = dlg->List();
    std::vector<std::string> codes;
    for (int row : list->GetSelectedRows()) {
        std::string code = list->GetItemText(row, kCodeColumn);
        if (std::find(codes.begin(), codes.end(), code) == codes.end()) codes.push_back(std::move(code));
    }
    int failed = 0;
    for (const std::string& code : codes)
        if (!list->SetWatchFlag(code, watched)) ++failed;
    if (failed > 0) {
        MessageBox::Show(dlg, QStringLiteral("关注状态未能保存，请稍后再试。"), QStringLiteral("提示"),
                         MessageBox::Buttons::Ok, MessageBox::Icon::Information);
    }
}

}  // namespace

void CFundDlg::OnAddWatch() {
    SetWatchOfSelection(this, true);
}

void CFundDlg::OnRemoveWatch() {
    SetWatchOfSelection(this, false);
}

void CFundDlg::OnDeleteHolding() {
    // The holdings and their questions are all taken before the first box: while
    // a box is open a refresh pass may reload (and so reorder) the view, so a
    // row number read after an answer may name another holding.
    struct Target {
        long long idc;
        QString question;
    };
    std::vector<Target> targets;
    for (int row : List()->GetSelectedRows()) {
        targets.push_back(
            {static_cast<long long>(List()->GetItemData(row)),
             QStringLiteral("确定要从我的基金中删除“") + GbkToQString(List()->GetItemText(row, kCodeColumn)) +
                 GbkToQString(List()->GetItemText(row, kNameColumn)) + QStringLiteral("”吗？")});
    }
    bool deleted = false;
    int failed = 0;
    for (const Target& target : targets) {
        if (MessageBox::Show(this, target.question, QStringLiteral("提示"), MessageBox::Buttons::OkCancel,
                             MessageBox::Icon::Question) != MessageBox::kOk)
            continue;
        deleted = true;
        // The ledger deletes the holding's trades, plans and income with it.
        if (Ledger::DeleteHolding(target.idc) != 0) ++failed;
    }
    if (failed > 0) {
        MessageBox::Show(this, QStringLiteral("有 %1 条记录未能删除，请稍后再试。").arg(failed),
                         QStringLiteral("提示"), MessageBox::Buttons::Ok, MessageBox::Icon::Warning);
    }
    if (deleted) {
        UpdateSummary();
        OnHoldings();
    }
}

void CFundDlg::OnUpgrade() {
    // The package manager owns a packaged program file; it brings the updates too.
    if (CFundDb::IsPackagedProgram()) {
        SayUpdatesComeFromThePackageManager();
        return;
    }
    // Only the boxes are the window's: the offer and the program file are fetched
    // on a thread of their own, so a slow server never freezes the window, and
    // 取消 stops the download and leaves the program as it was. A successful
    // update ends the process there.
    CDownloadProgressDlg progress(QStringLiteral("正在下载新版本…"), this);
    const int r = progress.Run(
        [db = m_dbData](const DownloadProgress& told) mutable { return db.LaunchSelfUpdate(told); });
    if (r == -6) return;  // cancelled: the user knows
    if (r == 0) {
        MessageBox::Show(this, QStringLiteral("已经是最新版本无须升级"), QStringLiteral("提示"),
                         MessageBox::Buttons::Ok, MessageBox::Icon::Information);
    } else if (r < 0) {
        MessageBox::Show(this,
                         QStringLiteral("升级失败，可能防火墙阻止了升级。\n请到") +
                             QString::fromStdString(HomeHost()) + QStringLiteral("下载最新版。"),
                         QStringLiteral("提示"), MessageBox::Buttons::Ok, MessageBox::Icon::Information);
    }
}

void CFundDlg::SayUpdatesComeFromThePackageManager() {
    MessageBox::Show(this, QString::fromUtf8(kPackageUpdateText), QStringLiteral("提示"),
                     MessageBox::Buttons::Ok, MessageBox::Icon::Information);
}

void CFundDlg::OnSecurity() {
    CSecurityDlg dlg;
    dlg.exec();
}

void CFundDlg::OnAbout() {
    CAboutDlg dlg;
    dlg.exec();
}

namespace {

// The file an export goes to: chosen, and an existing one only when the user agrees to replace
// it; "" otherwise.
QString ChooseExportFile(QWidget* parent, const char* name, const char* filter, const char* suffix) {
    const QString path = FileChooser::GetSaveFileName(parent, QString(), QString::fromUtf8(name),
                                                      QString::fromUtf8(filter), QString::fromUtf8(suffix));
    if (path.isEmpty()) return path;
    if (QFileInfo::exists(path) &&
        MessageBox::Show(parent, QString::fromUtf8(kOverwriteQuestion), QString::fromUtf8(kExchangeCaption),
                         MessageBox::Buttons::OkCancel, MessageBox::Icon::Question) != MessageBox::kOk)
        return QString();
    return path;
}

QString ChooseImportFile(QWidget* parent, const char* name, const char* filter, const char* suffix) {
    return FileChooser::GetOpenFileName(parent, QString(), QString::fromUtf8(name), QString::fromUtf8(filter),
                                        QString::fromUtf8(suffix));
}

// A box of the exchange of holdings or trades.
void TellExchange(QWidget* parent, const QString& text, MessageBox::Icon icon) {
    MessageBox::Show(parent, text, QString::fromUtf8(kExchangeCaption), MessageBox::Buttons::Ok, icon);
}

}  // namespace

void CFundDlg::OnExport() {
    const QString path = ChooseExportFile(this, kHoldingsFileName, kHoldingsFileFilter, kHoldingsFileSuffix);
    if (path.isEmpty()) return;
    const int result = m_dbData.ExportHoldings(FileChooser::ToNativePath(path));
    if (result > 0)
        TellExchange(this, QString::fromUtf8(kExportDoneText) + path, MessageBox::Icon::Information);
    else
        TellExchange(this, QString::fromStdString(ExportFailedText(result, path.toStdString())),
                     MessageBox::Icon::Warning);
}

void CFundDlg::OnImport() {
    const QString path = ChooseImportFile(this, kHoldingsFileName, kHoldingsFileFilter, kHoldingsFileSuffix);
    if (path.isEmpty()) return;
    int added = 0;
    int skipped = 0;
    const int result = m_dbData.ImportHoldings(FileChooser::ToNativePath(path), &added, &skipped);
    if (result > 0)
        TellExchange(this, QString::fromStdString(ImportDoneText(added, skipped)),
                     MessageBox::Icon::Information);
    else
        TellExchange(this, QString::fromStdString(ImportFailedText(result, path.toStdString())),
                     MessageBox::Icon::Warning);
    UpdateSummary();
    ReloadIfShown(ViewKind::Holdings);
}

void CFundDlg::OnTrades() {
    const int row = List()->GetFirstSelectedRow();
    if (row < 0) return;
    const long long idc = static_cast<long long>(List()->GetItemData(row));
    const int usable = Ledger::Check();
    if (usable != 1) {
        if (!NoteLedgerDamage(this, usable))
            MessageBox::Show(this, QStringLiteral("未能打开交易记录，请稍后再试。"), QStringLiteral("提示"),
                             MessageBox::Buttons::Ok, MessageBox::Icon::Warning);
        return;
    }
    CTradeDlg dlg(idc, List()->GetItemText(row, kCodeColumn), List()->GetItemText(row, kNameColumn), this);
    dlg.exec();
    if (!dlg.Changed()) return;
    UpdateSummary();
    ReloadCurrentView();
}

void CFundDlg::OnExportTrades() {
    const QString path = ChooseExportFile(this, kTradesFileName, kTradesFileFilter, kTradesFileSuffix);
    if (path.isEmpty()) return;
    const int result = Ledger::ExportTrades(FileChooser::ToNativePath(path));
    if (result > 0) {
        TellExchange(this, QString::fromUtf8(kExportDoneText) + path, MessageBox::Icon::Information);
        return;
    }
    if (NoteLedgerDamage(this, result)) return;
    TellExchange(this,
                 result == -3 ? QString::fromUtf8(kExportFileFailedText) + path
                              : QStringLiteral("保存失败，无法读取交易记录。"),
                 MessageBox::Icon::Warning);
}

void CFundDlg::OnImportTrades() {
    const QString path = ChooseImportFile(this, kTradesFileName, kTradesFileFilter, kTradesFileSuffix);
    if (path.isEmpty()) return;
    int added = 0;
    int skipped = 0;
    std::vector<std::string> reasons;
    const int result = Ledger::ImportTrades(FileChooser::ToNativePath(path), &added, &skipped, &reasons);
    if (result > 0) {
        QString text = QString::fromStdString(ImportDoneText(added, skipped));
        for (size_t i = 0; i < reasons.size() && i < kReasonsShown; ++i)
            text += QStringLiteral("\n") + GbkToQString(reasons[i]);
        if (reasons.size() > kReasonsShown) text += QStringLiteral("\n……");
        TellExchange(this, text, MessageBox::Icon::Information);
    } else if (!NoteLedgerDamage(this, result)) {
        TellExchange(this, QString::fromStdString(ImportFailedText(result, path.toStdString())),
                     MessageBox::Icon::Warning);
    }
    UpdateSummary();
    ReloadCurrentView();
}

void CFundDlg::OnAlertSettings() {
    CAlertSettingsDlg settings(this);
    const int read = settings.Load();
    if (read == 0) {
        (void)settings.exec();
        return;
    }
    if (!NoteLedgerDamage(this, read))
        MessageBox::Show(this, QStringLiteral("无法读取提醒设置。"), QStringLiteral("提示"),
                         MessageBox::Buttons::Ok, MessageBox::Icon::Warning);
}

}  // namespace zeza
