#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QDialog>
#include <QString>

#include "app/RefreshWorker.h"
#include "db/CFundDb.h"
#include "tables/ViewDefinition.h"

class QLabel;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace Ui {
class CFundDlg;
}

namespace zeza {

class CFundListCtrl;
class CIncomeCalendar;
class CSuggestEdit;
class CWebBrowser2;

// The program's main window: header band with logo and banner pane, the view
// and command buttons, the search field, the summary line, the fund list with
// the page pane on the same rectangle, and a three-part status bar. Start-up
// runs it modally; its initialisation starts the background refresh.
class CFundDlg : public QDialog, public IRefreshHost {
    Q_OBJECT

  public:
    explicit CFundDlg(QWidget* parent = nullptr);
    ~CFundDlg() override;

    // The first time the window is shown it is initialised, as a dialog is
    // before it first appears; a window that is only constructed stays idle.
    void setVisible(bool visible) override;
    void done(int result) override;

    // Text of status bar part 0, 1 or 2.
    void SetStatusText(const QString& text, int part) override;
    QString StatusText(int part) const;
    // Places the moving controls for the window's current outer size.
    void RecalcLayout();
    // Recomputes the summary line from the database.
    void UpdateSummary();
    void ShowSummary(double value, double previousValue, double estimatedValue, double cost) override;
    // Hands url to the user's browser.
    void OpenUrl(const QString& url);

    // The view buttons: each shows its view in the list.
    void OnLatest();
    void OnForecast();
    void OnHoldings();
    void OnWatchList();
    // "收益日历": the income calendar over the list's rectangle until a view button is pressed.
    void OnIncomeCalendar();
    void OnFeedback();
    void OnCalculator();
    void OnMore();
    void OnHomePage();

    // Commands on the list and the menus.
    void OnFind();
    void OnClickList();
    void OnDblclkList();
    void OnRclickList();
    void OnViewDetail();
    void OnAddHolding();
    void OnMenuAddHolding();
    void OnAddWatch();
    void OnRemoveWatch();
    void OnEditHolding();
    void OnDeleteHolding();
    void OnUpgrade();
    void OnSecurity();
    void OnAbout();
    void OnExport();
    void OnImport();
    // The trades of the selected holding ("交易记录"), and the trades file of the "更多 >>" menu.
    void OnTrades();
    void OnExportTrades();
    void OnImportTrades();
    // "提醒设置" (the tray menu and "更多 >>").
    void OnAlertSettings();
    // Every minute and after each refresh pass: sends the alerts due now as desktop notifications.
    void OnAlertTimer();
    // The tray menu's "显示主窗口" and "退出"; the exit takes the path a close always took.
    void ShowFromTray();
    void ExitProgram();
    // The context menu last shown on the list (tests trigger its actions).
    QMenu* ContextMenu() const { return m_pContextMenu; }
    // Timer 1, five seconds after initialisation: the header filler makes room for the banner.
    void OnTimer1();

    CFundListCtrl* List() const;
    CSuggestEdit* SearchField() const;
    CWebBrowser2* HeaderPane() const;
    CWebBrowser2* PagePane() const;
    CIncomeCalendar* IncomeCalendar() const { return m_pCalendar; }
    QLabel* SummaryLine() const;
    QWidget* StatusBar() const { return m_pStatusBar; }
    QMenu* MoreMenu() const { return m_pMoreMenu; }
    QSystemTrayIcon* TrayIcon() const { return m_pTray; }
    QTimer* AlertTimer() const { return m_pAlertTimer; }
    RefreshWorker* Worker() const { return m_pWorker.get(); }
    const std::vector<std::string>& QuoteDates() const { return m_arrDates; }

    // The text of the summary line for the four totals and the quote date (GBK date).
    static QString FormatSummary(const std::string& date, double value, double previousValue,
                                 double estimatedValue, double cost);
    // The tray icon's tooltip: the day's estimated income of the holdings, from the summary's totals.
    static QString FormatTrayTip(double value, double estimatedValue);
    // Tests: whether initialisation starts the background refresh (on by default).
    static void SetAutoRefreshForTesting(bool on);

    CFundDb m_dbData;
    std::vector<std::string> m_arrDates;
    ViewKind m_view = ViewKind::Latest;  // the view last shown in the list
    bool m_bListCovered = false;         // a page covers the list: a refresh pass reloads no view
    bool m_bCalendarShown = false;       // the income calendar covers the list: a refresh pass reloads it
    int m_nFindNext = 0;
    int m_bWideLayout = 0;

    // What the background refresh asks of the window (always on the UI thread).
    bool AskForcedUpdate() override;
    void SayUpdatesComeFromThePackageManager() override;
    void TakeQuoteDates(const std::vector<std::string>& dates) override;
    void TakeCandidates(const std::vector<std::string>& entries,
                        const std::vector<std::string>& initials) override;
    void ReloadCurrentView() override;
    bool ShownView(ViewKind& kind, std::string& quoteDate) override;
    void ShowIndices() override;
    void CloseAsCancel() override;
    // The market line above the list (hidden while there are no indices).
    QLabel* IndexLine() const;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OnInitDialog();
    void CreateStatusBar();
    void CreateMoreMenu();
    void CreateTrayIcon();
    void ShowView(ViewKind kind);
    // Loads kind again when the list shows it (after a change to what it shows).
    void ReloadIfShown(ViewKind kind);
    QString HomeText() const;
    QString DetailUrl(int row) const;
    // Runs the holding editor for the selected row; true when it was saved.
    bool RunHoldingEditor(bool edit);

    std::unique_ptr<Ui::CFundDlg> ui;
    bool m_bInitialised = false;
    QWidget* m_pStatusBar = nullptr;
    QLabel* m_pStatusParts[3] = {nullptr, nullptr, nullptr};
    QMenu* m_pMoreMenu = nullptr;
    QMenu* m_pContextMenu = nullptr;
    CIncomeCalendar* m_pCalendar = nullptr;
    QTimer* m_pTimer1 = nullptr;
    QTimer* m_pTipTimer = nullptr;
    QTimer* m_pAlertTimer = nullptr;
    QSystemTrayIcon* m_pTray = nullptr;
    QMenu* m_pTrayMenu = nullptr;
    bool m_bExiting = false;  // the tray's "退出": a close ends the program whatever the settings say
    std::shared_ptr<UiBridge> m_bridge;
    std::unique_ptr<RefreshWorker> m_pWorker;
};

// The one main window while it exists.
extern CFundDlg* g_pMainDlg;

}  // namespace zeza
