#include "tables/CIncomeCalendar.h"

#include <cstdlib>

#include <QDate>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include "dialogs/LedgerFigures.h"
#include "dialogs/LedgerNotice.h"
#include "ledger/Ledger.h"
#include "platform/GbkQString.h"
#include "tables/RowColors.h"

namespace zeza {

namespace {

constexpr int kRows = 6;
constexpr int kDays = 7;

// Income in yuan, with a plus sign for a gain as the lists show changes.
QString IncomeText(Fen income) {
    return QString::fromStdString((income > 0 ? "+" : "") + FormatScaled(income, 2));
}

// Gains red; losses and nothing green, as the fund list colours its rows.
QColor IncomeColor(Fen income) {
    return QColor(income > 0 ? kRiseColor : kFallColor);
}

// Draws a chosen cell's text in the colour of its income rather than the selection's.
class KeepColourDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant colour = index.data(Qt::ForegroundRole);
        option->palette.setBrush(QPalette::HighlightedText,
                                 colour.isValid() ? colour.value<QBrush>() : option->palette.text());
    }
};

QTableWidget* NewTable(QWidget* parent, const char* name, int rows, const QStringList& captions) {
    auto* t = new QTableWidget(rows, static_cast<int>(captions.size()), parent);
    t->setObjectName(QLatin1String(name));
    t->setHorizontalHeaderLabels(captions);
    t->verticalHeader()->hide();
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    return t;
}

}  // namespace

CIncomeCalendar::CIncomeCalendar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("incomeCalendar"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(kListBackground));
    setPalette(pal);

    m_pPrev = new QPushButton(QStringLiteral("◀"), this);
    m_pPrev->setObjectName(QStringLiteral("prevMonthButton"));
    m_pNext = new QPushButton(QStringLiteral("▶"), this);
    m_pNext->setObjectName(QStringLiteral("nextMonthButton"));
    // The arrows are drawn small in most fonts; a larger size keeps them easy to hit and to see.
    for (QPushButton* b : {m_pPrev, m_pNext}) {
        QFont arrow = b->font();
        arrow.setPointSize(arrow.pointSize() + 4);
        b->setFont(arrow);
        b->setFixedWidth(36);
    }
    m_pMonthLabel = new QLabel(this);
    m_pMonthLabel->setObjectName(QStringLiteral("monthLabel"));
    m_pMonthLabel->setAlignment(Qt::AlignCenter);
    m_pMonthLabel->setMinimumWidth(110);
    QFont bold = m_pMonthLabel->font();
    bold.setBold(true);
    m_pMonthLabel->setFont(bold);
    m_pTotals = new QLabel(this);
    m_pTotals->setObjectName(QStringLiteral("totalsLabel"));

    m_pGrid =
        NewTable(this, "calendarGrid", kRows,
                 {QStringLiteral("一"), QStringLiteral("二"), QStringLiteral("三"), QStringLiteral("四"),
                  QStringLiteral("五"), QStringLiteral("六"), QStringLiteral("日")});
    m_pGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_pGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_pGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pGrid->setGridStyle(Qt::SolidLine);
    // The chosen day is marked by a light background, and its income keeps its colour.
    QPalette chosen = m_pGrid->palette();
    chosen.setColor(QPalette::Highlight, QColor(0xd8, 0xec, 0xff));
    m_pGrid->setPalette(chosen);
    m_pGrid->setItemDelegate(new KeepColourDelegate(m_pGrid));
    m_pGrid->setStyleSheet(QStringLiteral("QTableWidget { gridline-color: #%1; }")
                               .arg(static_cast<unsigned>(kGridLineColor), 6, 16, QLatin1Char('0')));

    m_pDayLabel = new QLabel(QStringLiteral("点击日期查看当日各基金收益"), this);
    m_pDayLabel->setObjectName(QStringLiteral("dayLabel"));
    m_pDayList = NewTable(this, "dayIncomeList", 0,
                          {QStringLiteral("代码"), QStringLiteral("简称"), QStringLiteral("收益")});
    m_pDayList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pDayList->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);

    auto* header = new QHBoxLayout;
    header->addWidget(m_pPrev);
    header->addWidget(m_pMonthLabel);
    header->addWidget(m_pNext);
    header->addSpacing(16);
    header->addWidget(m_pTotals, 1);
    auto* left = new QVBoxLayout;
    left->addLayout(header);
    left->addWidget(m_pGrid, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(m_pDayLabel);
    right->addWidget(m_pDayList, 1);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(left, 3);
    layout->addLayout(right, 1);

    connect(m_pPrev, &QPushButton::clicked, this, [this] {
        const QDate d = QDate(m_nYear, m_nMonth, 1).addMonths(-1);
        ShowMonth(d.year(), d.month());
    });
    connect(m_pNext, &QPushButton::clicked, this, [this] {
        const QDate d = QDate(m_nYear, m_nMonth, 1).addMonths(1);
        ShowMonth(d.year(), d.month());
    });
    connect(m_pGrid, &QTableWidget::cellClicked, this, &CIncomeCalendar::OnCellClicked);
}

CIncomeCalendar::~CIncomeCalendar() = default;

void CIncomeCalendar::NoteFailure(int result) {
    m_pTotals->setText(NoteLedgerDamage(this, result) ? QStringLiteral("交易记录暂不可用")
                                                      : QStringLiteral("收益暂不可读，请稍后再试。"));
}

bool CIncomeCalendar::FindNewestMonth(int& year, int& month) {
    std::string day;
    if (Ledger::NewestIncomeDay(day) != 0 || day.size() < 7) return false;
    year = std::atoi(day.substr(0, 4).c_str());
    month = std::atoi(day.substr(5, 2).c_str());
    return year > 0 && month >= 1 && month <= 12;
}

void CIncomeCalendar::Reload() {
    if (!m_bPlaced) {
        m_bPlaced = true;
        int y = 0;
        int m = 0;
        if (!FindNewestMonth(y, m)) {
            const QDate today = QDate::fromString(QString::fromStdString(Ledger::BeijingToday()),
                                                  QStringLiteral("yyyy-MM-dd"));
            y = today.isValid() ? today.year() : QDate::currentDate().year();
            m = today.isValid() ? today.month() : QDate::currentDate().month();
        }
        ShowMonth(y, m);
        return;
    }
    const int day = m_nDay;
    ShowMonth(m_nYear, m_nMonth);
    if (day > 0) SelectDay(day);
}

void CIncomeCalendar::ShowMonth(int year, int month) {
    m_nYear = year;
    m_nMonth = month;
    m_nDay = 0;
    m_bPlaced = true;
    m_pMonthLabel->setText(QStringLiteral("%1年%2月").arg(year).arg(month));
    std::vector<DayIncome> days;
    const int r = Ledger::MonthIncome(year, month, days);
    if (r != 0) days.clear();
    FillGrid(days);
    Fen monthTotal = 0;
    Fen yearTotal = 0;
    const int t = r == 0 ? Ledger::PeriodTotals(year, month, monthTotal, yearTotal) : r;
    if (t == 0)
        m_pTotals->setText(QStringLiteral("本月收益：") + IncomeText(monthTotal) +
                           QStringLiteral("    本年收益：") + IncomeText(yearTotal));
    else
        NoteFailure(t);
    m_pDayLabel->setText(QStringLiteral("点击日期查看当日各基金收益"));
    m_pDayList->setRowCount(0);
}

void CIncomeCalendar::FillGrid(const std::vector<DayIncome>& days) {
    const QDate first(m_nYear, m_nMonth, 1);
    const int offset = first.dayOfWeek() - 1;  // Monday is 1
    m_pGrid->clearContents();
    m_pGrid->clearSelection();
    // Income by day of the month; days without stay blank.
    std::vector<const DayIncome*> byDay(32, nullptr);
    for (const DayIncome& d : days) {
        const QDate day = QDate::fromString(QString::fromStdString(d.day), QStringLiteral("yyyy-MM-dd"));
        if (day.isValid() && day.year() == m_nYear && day.month() == m_nMonth) byDay[day.day()] = &d;
    }
    for (int day = 1; day <= first.daysInMonth(); ++day) {
        const int cell = offset + day - 1;
        QString text = QString::number(day);
        auto* item = new QTableWidgetItem;
        item->setData(Qt::UserRole, day);
        item->setTextAlignment(Qt::AlignCenter);
        if (const DayIncome* d = byDay[day]) {
            text += QStringLiteral("\n") + IncomeText(d->income);
            item->setForeground(IncomeColor(d->income));
        }
        item->setText(text);
        m_pGrid->setItem(cell / kDays, cell % kDays, item);
    }
}

void CIncomeCalendar::OnCellClicked(int row, int column) {
    const QTableWidgetItem* item = m_pGrid->item(row, column);
    if (item) SelectDay(item->data(Qt::UserRole).toInt());
}

void CIncomeCalendar::SelectDay(int day) {
    const QDate date(m_nYear, m_nMonth, day);
    if (!date.isValid()) return;
    m_nDay = day;
    const int cell = QDate(m_nYear, m_nMonth, 1).dayOfWeek() - 1 + day - 1;
    m_pGrid->setCurrentCell(cell / kDays, cell % kDays);
    FillDayList();
}

void CIncomeCalendar::FillDayList() {
    const QString day = QDate(m_nYear, m_nMonth, m_nDay).toString(QStringLiteral("yyyy-MM-dd"));
    std::vector<DayIncome> rows;
    const int r = Ledger::DayIncomeByHolding(day.toStdString(), rows);
    m_pDayList->setRowCount(0);
    if (r != 0) {
        NoteFailure(r);
        return;
    }
    m_pDayLabel->setText(day + (rows.empty() ? QStringLiteral(" 没有收益") : QStringLiteral(" 各基金收益")));
    m_pDayList->setRowCount(static_cast<int>(rows.size()));
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        const DayIncome& d = rows[static_cast<size_t>(i)];
        auto* income = new QTableWidgetItem(IncomeText(d.income));
        income->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        income->setForeground(IncomeColor(d.income));
        m_pDayList->setItem(i, 0, new QTableWidgetItem(GbkToQString(d.code)));
        m_pDayList->setItem(i, 1, new QTableWidgetItem(GbkToQString(d.name)));
        m_pDayList->setItem(i, 2, income);
    }
    m_pDayList->resizeColumnToContents(0);
}

}  // namespace zeza
