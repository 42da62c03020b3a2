#include "app/CFundDlg.h"

#include <cmath>
#include <cstdio>
#include <string_view>
#include <variant>

#include <QCloseEvent>
#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolTip>

#include "app/CFundApp.h"
#include "dialogs/CAlertSettingsDlg.h"
#include "ledger/Alerts.h"
#include "ledger/Ledger.h"
#include "platform/DesktopNotify.h"
#include "platform/GbkCodec.h"
#include "platform/GbkQString.h"
#include "platform/MessageBox.h"
#include "platform/ServerConfig.h"
#include "platform/Shell.h"
#include "suggest/CSuggestEdit.h"
#include "sync/IndexFeed.h"
#include "sync/MemoryFeeds.h"
#include "tables/CFundListCtrl.h"
#include "tables/CIncomeCalendar.h"
#include "tables/CellFormat.h"
#include "tables/ViewDefinition.h"
#include "ui_CFundDlg.h"
#include "web/CWebBrowser2.h"
#include "zeza/BuildConfig.h"

namespace zeza {

CFundDlg* g_pMainDlg = nullptr;

namespace {

bool g_bAutoRefresh = true;

// The alerts are asked for once a minute: the day's alert time is given to the minute.
constexpr int kAlertIntervalMs = 60 * 1000;
// Height of the market line's row above the list, its gap included.
constexpr int kIndexLineHeight = 18;

QString Base() {
    return QString::fromStdString(ServerBaseUrl());
}

}  // namespace

void CFundDlg::SetAutoRefreshForTesting(bool on) {
    g_bAutoRefresh = on;
}

CFundDlg::CFundDlg(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::CFundDlg>()) {
    ui->setupUi(this);
    // The banner needs no scripts: the light pane shows it, and the browser
    // engine starts only with the first page that needs it (the feedback form).
    ui->headerPane->UseLightPane();
    // A resizable application window with minimise and maximise boxes, not a
    // transient dialog box.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(QApplication::windowIcon());

    ui->logoPicture->setPixmap(QPixmap(QStringLiteral(":/images/logo.png")));
    ui->headerFiller->setPixmap(QPixmap(QStringLiteral(":/images/header-filler.png")));
    ui->headerFiller->setScaledContents(true);
    // The summary line is one row of 12 pixels; its font must fit that row.
    QFont summaryFont = ui->summaryLabel->font();
    summaryFont.setPixelSize(12);
    ui->summaryLabel->setFont(summaryFont);
    ui->indexLine->setFont(summaryFont);
    ui->indexLine->hide();

    connect(ui->latestButton, &QPushButton::clicked, this, &CFundDlg::OnLatest);
    connect(ui->forecastButton, &QPushButton::clicked, this, &CFundDlg::OnForecast);
    connect(ui->holdingsButton, &QPushButton::clicked, this, &CFundDlg::OnHoldings);
    connect(ui->watchListButton, &QPushButton::clicked, this, &CFundDlg::OnWatchList);
    connect(ui->incomeCalendarButton, &QPushButton::clicked, this, &CFundDlg::OnIncomeCalendar);
    connect(ui->feedbackButton, &QPushButton::clicked, this, &CFundDlg::OnFeedback);
    connect(ui->calculatorButton, &QPushButton::clicked, this, &CFundDlg::OnCalculator);
    connect(ui->moreButton, &QPushButton::clicked, this, &CFundDlg::OnMore);
    connect(ui->findButton, &QPushButton::clicked, this, &CFundDlg::OnFind);
    connect(ui->addHoldingButton, &QPushButton::clicked, this, &CFundDlg::OnAddHolding);
    connect(ui->fundList, &QAbstractItemView::clicked, this, &CFundDlg::OnClickList);
    connect(ui->fundList, &QAbstractItemView::doubleClicked, this, &CFundDlg::OnDblclkList);
    ui->fundList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->fundList, &QWidget::customContextMenuRequested, this, &CFundDlg::OnRclickList);

    // The logo is a link to the home site: hand cursor and, after 100 ms, a tooltip.
    ui->logoPicture->setCursor(Qt::PointingHandCursor);
    ui->logoPicture->setMouseTracking(true);
    ui->logoPicture->installEventFilter(this);
    m_pTipTimer = new QTimer(this);
    m_pTipTimer->setSingleShot(true);
    m_pTipTimer->setInterval(100);
    connect(m_pTipTimer, &QTimer::timeout, this, [this] {
        if (ui->logoPicture->underMouse())
            QToolTip::showText(QCursor::pos(), QStringLiteral("访问 Taviro 主页 - ") + HomeText(),
                               ui->logoPicture);
    });

    m_pTimer1 = new QTimer(this);
    m_pTimer1->setSingleShot(true);
    m_pTimer1->setInterval(5000);
    connect(m_pTimer1, &QTimer::timeout, this, &CFundDlg::OnTimer1);

    m_pAlertTimer = new QTimer(this);
    m_pAlertTimer->setInterval(kAlertIntervalMs);
    connect(m_pAlertTimer, &QTimer::timeout, this, &CFundDlg::OnAlertTimer);

    CreateStatusBar();
    CreateMoreMenu();
    // Made after the list, so it lies above it; hidden until its button is pressed.
    m_pCalendar = new CIncomeCalendar(this);
    m_pCalendar->hide();

    g_pMainDlg = this;
    m_view = ViewKind::Latest;
    m_bListCovered = false;
    m_nFindNext = 0;
    m_bWideLayout = 0;
    g_nPingState = 1;
    // Without a readable database the list stays empty and the views show no date until a pass reads one.
    (void)m_dbData.GetQuoteDates(m_arrDates);
    if (!m_arrDates.empty()) List()->m_strDate = m_arrDates.front();
}

CFundDlg::~CFundDlg() {
    // The refresh and ping threads stop (and are joined) before any control goes.
    m_pWorker.reset();
    if (m_bridge) m_bridge->Shutdown();
    if (g_pMainDlg == this) g_pMainDlg = nullptr;
}

CFundListCtrl* CFundDlg::List() const {
    return ui->fundList;
}
CSuggestEdit* CFundDlg::SearchField() const {
    return ui->searchEdit;
}
CWebBrowser2* CFundDlg::HeaderPane() const {
    return ui->headerPane;
}
CWebBrowser2* CFundDlg::PagePane() const {
    return ui->pagePane;
}
QLabel* CFundDlg::SummaryLine() const {
    return ui->summaryLabel;
}

QString CFundDlg::HomeText() const {
    return QString::fromStdString(HomeHost());
}

void CFundDlg::CreateStatusBar() {
    m_pStatusBar = new QWidget(this);
    m_pStatusBar->setObjectName(QStringLiteral("statusBar"));
    m_pStatusBar->setAutoFillBackground(true);
    QPalette pal = m_pStatusBar->palette();
    pal.setColor(QPalette::Window, QColor(CFundApp::kDialogBkColor));
    m_pStatusBar->setPalette(pal);
    auto* layout = new QHBoxLayout(m_pStatusBar);
    layout->setContentsMargins(0, 1, 0, 1);
    layout->setSpacing(2);
    // Parts end at x 300, 700 and the right edge.
    const int widths[3] = {300, 398, -1};
    for (int i = 0; i < 3; ++i) {
        auto* part = new QLabel(m_pStatusBar);
        part->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        part->setTextFormat(Qt::PlainText);
        if (widths[i] > 0) part->setFixedWidth(widths[i]);
        layout->addWidget(part, widths[i] > 0 ? 0 : 1);
        m_pStatusParts[i] = part;
    }
    m_pStatusBar->setGeometry(0, height() - 25, width(), 25);
}

void CFundDlg::CreateMoreMenu() {
    m_pMoreMenu = new QMenu(this);
    m_pMoreMenu->setStyleSheet(QStringLiteral("QMenu { background: white; }"));
    m_pMoreMenu->addAction(QStringLiteral("升级到最新版"), this, &CFundDlg::OnUpgrade);
    m_pMoreMenu->addAction(QStringLiteral("安全设置"), this, &CFundDlg::OnSecurity);
    m_pMoreMenu->addAction(QStringLiteral("提醒设置"), this, &CFundDlg::OnAlertSettings);
    m_pMoreMenu->addSeparator();
    m_pMoreMenu->addAction(QStringLiteral("导出我的基金"), this, &CFundDlg::OnExport);
    m_pMoreMenu->addAction(QStringLiteral("导入我的基金"), this, &CFundDlg::OnImport);
    m_pMoreMenu->addAction(QStringLiteral("导入交易记录"), this, &CFundDlg::OnImportTrades);
    m_pMoreMenu->addAction(QStringLiteral("导出交易记录"), this, &CFundDlg::OnExportTrades);
    m_pMoreMenu->addSeparator();
    m_pMoreMenu->addAction(QStringLiteral("访问Taviro主页"), this, &CFundDlg::OnHomePage);
    m_pMoreMenu->addAction(QStringLiteral("关于rize..."), this, &CFundDlg::OnAbout);
}

void CFundDlg::CreateTrayIcon() {
    m_pTrayMenu = new QMenu(this);
    m_pTrayMenu->addAction(QStringLiteral("显示主窗口"), this, &CFundDlg::ShowFromTray);
    m_pTrayMenu->addAction(QStringLiteral("提醒设置…"), this, &CFundDlg::OnAlertSettings);
    m_pTrayMenu->addSeparator();
    m_pTrayMenu->addAction(QStringLiteral("退出"), this, &CFundDlg::ExitProgram);
    m_pTray = new QSystemTrayIcon(QApplication::windowIcon(), this);
    m_pTray->setContextMenu(m_pTrayMenu);
    m_pTray->setToolTip(QString::fromUtf8(kProgramTitle));
    connect(m_pTray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) ShowFromTray();
    });
    // Shown where a tray exists, or appears later; elsewhere it waits unseen.
    m_pTray->show();
}

void CFundDlg::setVisible(bool visible) {
    if (visible && !m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
    if (visible) RecalcLayout();
}

void CFundDlg::OnInitDialog() {
    m_dbData.RemoveUpdateLeftovers();
    SearchField()->Setup();
    // The search field finds funds by name and pinyin initials too; the
    // holding editor's code field keeps to codes.
    SearchField()->SetMatchNames(true);
    List()->BuildColumns(GetViewDefinition(ViewKind::Latest).columnSpec);
    SetStatusText(QStringLiteral("  Taviro主页 - ") + HomeText(), 0);
    m_bridge = UiBridge::Create();
    m_pWorker = std::make_unique<RefreshWorker>(this, m_bridge);
    if (g_bAutoRefresh) m_pWorker->Start();
    HeaderPane()->Navigate(Base() + QStringLiteral("fund/fuCap.php?guid=") +
                           QString::fromStdString(m_dbData.GetInstallId()));
    m_pTimer1->start();
    CreateTrayIcon();
    m_pAlertTimer->start();
    setWindowTitle(QString::fromUtf8(kProgramTitle));
    // Without a window manager the maximised state is not applied, so the
    // window also takes the screen's whole work area itself.
    if (QScreen* s = screen()) setGeometry(s->availableGeometry());
    setWindowState(windowState() | Qt::WindowMaximized);
}

void CFundDlg::done(int result) {
    // From here on no background step touches the window.
    if (m_pWorker) m_pWorker->RequestStop();
    QDialog::done(result);
}

void CFundDlg::SetStatusText(const QString& text, int part) {
    if (part >= 0 && part < 3) m_pStatusParts[part]->setText(text);
}

QString CFundDlg::StatusText(int part) const {
    return part >= 0 && part < 3 ? m_pStatusParts[part]->text() : QString();
}

void CFundDlg::RecalcLayout() {
    if (!isVisible()) return;
    const QSize outer = frameGeometry().size();
    const int W = outer.width();
    const int H = outer.height();
    const int F = m_bWideLayout ? W - 900 : W - 400;
    // A window narrower than the formulas expect gets empty controls, never negative ones.
    auto place = [](QWidget* w, int x, int y, int cx, int cy) {
        w->setGeometry(x, y, std::max(cx, 0), std::max(cy, 0));
    };
    place(ui->headerPane, W - 500, 0, 500, 70);
    place(ui->headerFiller, 400, 0, F, 70);
    place(ui->summaryLabel, 110, 77, W - 400, 12);
    ui->summaryLabel->repaint();
    place(ui->searchEdit, W - 250, 73, 170, 20);
    place(ui->findButton, W - 75, 73, 60, 20);
    // The market line, while there is one, takes a line of its own above the list.
    const int top = ui->indexLine->isVisibleTo(this) ? 96 + kIndexLineHeight : 96;
    place(ui->indexLine, 110, 96, W - 120, kIndexLineHeight - 2);
    place(ui->fundList, 110, top, W - 120, H - 61 - top);
    place(ui->pagePane, 110, top, W - 120, H - 61 - top);
    place(m_pCalendar, 110, top, W - 120, H - 61 - top);
    place(m_pStatusBar, 0, H - 50, W, 25);
}

void CFundDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    RecalcLayout();
}

void CFundDlg::OnTimer1() {
    m_bWideLayout = 1;
    RecalcLayout();
}

void CFundDlg::ShowView(ViewKind kind) {
    m_view = kind;
    m_bListCovered = false;
    m_bCalendarShown = false;
    m_pCalendar->hide();
    List()->show();
    List()->LoadView(kind, -1);
}

void CFundDlg::ReloadIfShown(ViewKind kind) {
    if (!m_bListCovered && m_view == kind) ShowView(kind);
}

void CFundDlg::OnLatest() {
    ShowView(ViewKind::Latest);
}
void CFundDlg::OnForecast() {
    ShowView(ViewKind::Forecast);
}
void CFundDlg::OnHoldings() {
    ShowView(ViewKind::Holdings);
}
void CFundDlg::OnWatchList() {
    ShowView(ViewKind::Watch);
}

void CFundDlg::OnIncomeCalendar() {
    m_bListCovered = true;
    m_bCalendarShown = true;
    m_pCalendar->setGeometry(List()->geometry());
    m_pCalendar->Reload();
    m_pCalendar->show();
    m_pCalendar->raise();
    List()->hide();
}

void CFundDlg::OnFeedback() {
    // While the page is shown a refresh must not bring the list back over it.
    m_bListCovered = true;
    m_bCalendarShown = false;
    m_pCalendar->hide();
    PagePane()->setGeometry(List()->geometry());
    PagePane()->Navigate(Base() + QStringLiteral("fund/feedback.php"));
    List()->hide();
}

void CFundDlg::OnCalculator() {
    // "calc" where it exists, else whichever desktop calculator is installed.
    for (const char* name : {"calc", "gnome-calculator", "kcalc", "galculator", "mate-calc", "xcalc"}) {
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!program.isEmpty()) {
            Shell::StartProgram(program, {});
            return;
        }
    }
}

void CFundDlg::OnMore() {
    raise();
    activateWindow();
    m_pMoreMenu->popup(ui->moreButton->mapToGlobal(QPoint(ui->moreButton->width(), 0)));
}

void CFundDlg::OnHomePage() {
    OpenUrl(Base());
}

void CFundDlg::OpenUrl(const QString& url) {
    Shell::OpenUrl(url);
}

bool CFundDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->logoPicture) {
        switch (event->type()) {
            case QEvent::Enter:
            case QEvent::MouseMove:
                if (!m_pTipTimer->isActive() && !QToolTip::isVisible()) m_pTipTimer->start();
                break;
            case QEvent::Leave:
                m_pTipTimer->stop();
                QToolTip::hideText();
                break;
            case QEvent::MouseButtonRelease: {
                // Only the left button follows the link (WM_LBUTTONUP).
                const auto* mouse = static_cast<QMouseEvent*>(event);
                if (mouse->button() == Qt::LeftButton &&
                    ui->logoPicture->rect().contains(mouse->position().toPoint()))
                    OpenUrl(Base());
                break;
            }
            default:
                break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CFundDlg::closeEvent(QCloseEvent* event) {
    // With "关闭时最小化到托盘" the window waits in the tray; without a tray it could not be found
    // again, so it closes as always.
    if (!m_bExiting && CAlertSettingsDlg::TrayAvailable()) {
        AlertSettings settings;
        if (Alerts::ReadSettings(settings) == 0 && settings.minimizeToTray) {
            hide();
            event->ignore();
            return;
        }
    }
    // While a thanks request runs the window only hides; the ping thread closes
    // it when the request is done. The state change is one atomic step, so a
    // request that ends at this very moment cannot leave the window hidden.
    int state = g_nPingState.load();
    while (state != 1) {
        if (g_nPingState.compare_exchange_weak(state, 3)) {
            hide();
            event->ignore();
            return;
        }
    }
    // A dialog that is hidden ignores a close; one that waits in the tray must still end.
    if (!isVisible()) {
        reject();
        event->accept();
        return;
    }
    QDialog::closeEvent(event);
}

void CFundDlg::ShowFromTray() {
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void CFundDlg::ExitProgram() {
    m_bExiting = true;
    close();
}

void CFundDlg::OnAlertTimer() {
    std::vector<AlertNotice> due;
    // A damaged ledger sends nothing: the window has told it once already.
    if (Alerts::TakeDue(Ledger::BeijingNow(), due) != 0) return;
    // A notification the desktop did not take is not asked for again: it was due once.
    for (const AlertNotice& notice : due)
        (void)SendDesktopNotification(GbkToUtf8(notice.title), GbkToUtf8(notice.body));
}

QString CFundDlg::FormatSummary(const std::string& date, double value, double previousValue,
                                double estimatedValue, double cost) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%0.2f|%0.2f|%s%0.2f|%0.2f|%0.2f", value, value - cost,
                  value >= previousValue ? "+" : "", value - previousValue, estimatedValue,
                  estimatedValue - cost);
    const QStringList n = QString::fromLatin1(buf).split(QLatin1Char('|'));
    return GbkToQString(date) + QStringLiteral(" 市值:") + n[0] + QStringLiteral(" 赢利:") + n[1] +
           QStringLiteral(" 较前日:") + n[2] + QStringLiteral("  预估市值:") + n[3] +
           QStringLiteral(" 预估赢利:") + n[4];
}

QString CFundDlg::FormatTrayTip(double value, double estimatedValue) {
    // As the summary line's figures: today's estimated value of the holdings less their last value.
    double income = estimatedValue - value;
    if (std::fabs(income) < 0.005) income = 0;  // never "-0.00"
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%0.2f", income >= 0 ? "+" : "", income);
    return QStringLiteral("今日预估收益：") + QString::fromLatin1(buf) + QStringLiteral(" 元");
}

void CFundDlg::ShowSummary(double value, double previousValue, double estimatedValue, double cost) {
    const std::string date = m_arrDates.empty() ? std::string() : m_arrDates.front();
    ui->summaryLabel->setText(FormatSummary(date, value, previousValue, estimatedValue, cost));
    if (m_pTray) m_pTray->setToolTip(FormatTrayTip(value, estimatedValue));
    // A refresh pass ends here: its estimates, NAVs and confirmations may make alerts due. Asked
    // after this call returns, so the refresh thread does not wait on the desktop.
    if (m_pAlertTimer && m_pAlertTimer->isActive()) QTimer::singleShot(0, this, &CFundDlg::OnAlertTimer);
}

void CFundDlg::UpdateSummary() {
    double v = 0, p = 0, e = 0, c = 0;
    // A failed read shows zero totals, as before; the next pass shows them again.
    (void)m_dbData.GetPortfolioTotals(v, p, e, c);
    ShowSummary(v, p, e, c);
}

bool CFundDlg::AskForcedUpdate() {
    return MessageBox::Show(this, QStringLiteral("版本更新，旧版本无法正常使用，是否自动更新"),
                            QStringLiteral("提示"), MessageBox::Buttons::OkCancel,
                            MessageBox::Icon::Question) == MessageBox::kOk;
}

void CFundDlg::TakeQuoteDates(const std::vector<std::string>& dates) {
    m_arrDates.insert(m_arrDates.begin(), dates.begin(), dates.end());
    if (!m_arrDates.empty()) List()->m_strDate = m_arrDates.front();
}

void CFundDlg::TakeCandidates(const std::vector<std::string>& entries,
                              const std::vector<std::string>& initials) {
    SearchField()->ClearCandidates();
    for (size_t i = 0; i < entries.size(); ++i)
        SearchField()->AddCandidate(entries[i], i < initials.size() ? initials[i] : std::string());
}

void CFundDlg::ReloadCurrentView() {
    if (m_bCalendarShown)
        m_pCalendar->Reload();
    else if (!m_bListCovered && List()->m_bLoaded == 1 && List()->m_loadedView == m_view)
        List()->RefreshView();  // the rows keep their sort, selection and scroll position
    else if (!m_bListCovered)
        ShowView(m_view);
}

bool CFundDlg::ShownView(ViewKind& kind, std::string& quoteDate) {
    if (m_bListCovered) return false;
    kind = m_view;
    quoteDate = List()->m_strDate;
    return true;
}

QLabel* CFundDlg::IndexLine() const {
    return ui->indexLine;
}

void CFundDlg::ShowIndices() {
    const MemoryFeedSnapshot feeds = TakeMemoryFeeds();
    QString html;
    for (std::string_view code : kMarketLineIndices) {
        const MemoryValue* name = feeds.Find("idx", std::string(code), kIndexName);
        const MemoryValue* level = feeds.Find("idx", std::string(code), kIndexLevel);
        const MemoryValue* change = feeds.Find("idx", std::string(code), kIndexChange);
        if (!name || !level || !change || !std::holds_alternative<std::string>(*name) ||
            !std::holds_alternative<double>(*level) || !std::holds_alternative<double>(*change))
            continue;
        const double pct = std::get<double>(*change);
        // Rises red, falls and no change green, as the list colours its rows.
        const RgbColor color = pct > 0 ? kRiseColor : kFallColor;
        if (!html.isEmpty()) html += QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;");
        html += QStringLiteral("<span style=\"color:#%1\">%2&nbsp;%3&nbsp;%4%</span>")
                    .arg(color, 6, 16, QLatin1Char('0'))
                    .arg(GbkToQString(std::get<std::string>(*name)).toHtmlEscaped())
                    .arg(QString::fromStdString(FormatFixed(std::get<double>(*level), 2)))
                    .arg(QString::fromStdString(FormatFixed(pct, 2, true)));
    }
    ui->indexLine->setText(html);
    const bool shown = !html.isEmpty();
    if (shown != ui->indexLine->isVisibleTo(this)) {
        ui->indexLine->setVisible(shown);
        RecalcLayout();
    }
}

void CFundDlg::CloseAsCancel() {
    reject();
}

}  // namespace zeza
