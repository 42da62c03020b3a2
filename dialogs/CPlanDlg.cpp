#include "dialogs/CPlanDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "dialogs/LedgerFigures.h"
#include "dialogs/LedgerNotice.h"
#include "ledger/Ledger.h"
#include "platform/GbkQString.h"
#include "platform/MessageBox.h"

namespace zeza {

namespace {

constexpr const char* kDayFormat = "yyyy-MM-dd";
constexpr const char* kWeekdays[] = {"周一", "周二", "周三", "周四", "周五"};

QString ScheduleText(const PlanRecord& p) {
    switch (p.schedule) {
        case PlanSchedule::EveryTradingDay:
            return QStringLiteral("每个交易日");
        case PlanSchedule::Weekly:
            return QStringLiteral("每周") +
                   (p.day >= 1 && p.day <= 5 ? QString::fromUtf8(kWeekdays[p.day - 1]).mid(1) : QString("?"));
        case PlanSchedule::Monthly:
            return QStringLiteral("每月%1日").arg(p.day);
    }
    return QString();
}

QPushButton* NewButton(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

QDateEdit* NewDate(QWidget* parent, const char* name, const QDate& day) {
    auto* e = new QDateEdit(day, parent);
    e->setObjectName(QLatin1String(name));
    e->setDisplayFormat(QString::fromLatin1(kDayFormat));
    e->setCalendarPopup(true);
    return e;
}

}  // namespace

CPlanDlg::CPlanDlg(long long holding, QWidget* parent) : QDialog(parent), m_nHolding(holding) {
    setWindowTitle(QStringLiteral("定投"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    m_pTable = new QTableWidget(0, 5, this);
    m_pTable->setObjectName(QStringLiteral("planTable"));
    m_pTable->setHorizontalHeaderLabels({QStringLiteral("金额"), QStringLiteral("费率(%)"),
                                         QStringLiteral("周期"), QStringLiteral("开始"),
                                         QStringLiteral("结束")});
    m_pTable->verticalHeader()->hide();
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pTable->horizontalHeader()->setStretchLastSection(true);

    const QDate today =
        QDate::fromString(QString::fromStdString(Ledger::BeijingToday()), QString::fromLatin1(kDayFormat));
    m_pAmount = new QLineEdit(this);
    m_pAmount->setObjectName(QStringLiteral("amountEdit"));
    m_pRate = new QLineEdit(QStringLiteral("0.15"), this);
    m_pRate->setObjectName(QStringLiteral("rateEdit"));
    m_pSchedule = new QComboBox(this);
    m_pSchedule->setObjectName(QStringLiteral("scheduleCombo"));
    m_pSchedule->addItem(QStringLiteral("每个交易日"), static_cast<int>(PlanSchedule::EveryTradingDay));
    m_pSchedule->addItem(QStringLiteral("每周"), static_cast<int>(PlanSchedule::Weekly));
    m_pSchedule->addItem(QStringLiteral("每月"), static_cast<int>(PlanSchedule::Monthly));
    m_pDay = new QComboBox(this);
    m_pDay->setObjectName(QStringLiteral("dayCombo"));
    m_pStart = NewDate(this, "startEdit", today);
    m_pHasEnd = new QCheckBox(QStringLiteral("结束："), this);
    m_pHasEnd->setObjectName(QStringLiteral("endCheck"));
    m_pEnd = NewDate(this, "endEdit", today.addYears(1));
    m_pEnd->setEnabled(false);

    auto* when = new QHBoxLayout;
    when->addWidget(m_pSchedule);
    when->addWidget(m_pDay, 1);
    auto* end = new QHBoxLayout;
    end->addWidget(m_pHasEnd);
    end->addWidget(m_pEnd, 1);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("每次金额（元）："), m_pAmount);
    form->addRow(QStringLiteral("费率（%）："), m_pRate);
    form->addRow(QStringLiteral("周期："), when);
    form->addRow(QStringLiteral("开始："), m_pStart);
    form->addRow(end);

    auto* add = NewButton(this, "addPlanButton", QStringLiteral("添加"));
    auto* del = NewButton(this, "deletePlanButton", QStringLiteral("删除"));
    auto* close = NewButton(this, "closeButton", QStringLiteral("关闭"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(del);
    buttons->addStretch();
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pTable, 1);
    layout->addLayout(form);
    layout->addLayout(buttons);
    resize(520, 400);

    connect(m_pSchedule, &QComboBox::currentIndexChanged, this, &CPlanDlg::OnScheduleChanged);
    connect(m_pHasEnd, &QCheckBox::toggled, m_pEnd, &QWidget::setEnabled);
    connect(add, &QPushButton::clicked, this, &CPlanDlg::OnAdd);
    connect(del, &QPushButton::clicked, this, &CPlanDlg::OnDelete);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    m_pSchedule->setCurrentIndex(2);
    OnScheduleChanged();
    Reload();
}

CPlanDlg::~CPlanDlg() = default;

void CPlanDlg::Warn(const QString& text) {
    MessageBox::Show(this, text, QStringLiteral("提示"), MessageBox::Buttons::Ok, MessageBox::Icon::Warning);
}

void CPlanDlg::OnScheduleChanged() {
    const auto schedule = static_cast<PlanSchedule>(m_pSchedule->currentData().toInt());
    m_pDay->clear();
    if (schedule == PlanSchedule::Weekly)
        for (int d = 1; d <= 5; ++d) m_pDay->addItem(QString::fromUtf8(kWeekdays[d - 1]), d);
    if (schedule == PlanSchedule::Monthly)
        for (int d = 1; d <= 31; ++d) m_pDay->addItem(QStringLiteral("%1日").arg(d), d);
    m_pDay->setEnabled(schedule != PlanSchedule::EveryTradingDay);
}

bool CPlanDlg::Reload() {
    m_plans.clear();
    const int r = Ledger::ListPlans(m_nHolding, m_plans);
    if (r != 0) m_plans.clear();
    m_pTable->setRowCount(static_cast<int>(m_plans.size()));
    for (int row = 0; row < static_cast<int>(m_plans.size()); ++row) {
        const PlanRecord& p = m_plans[static_cast<size_t>(row)];
        const QString cells[] = {QString::fromStdString(FormatScaled(p.amount, 2)),
                                 QString::fromStdString(FormatRatePercent(p.rate)), ScheduleText(p),
                                 QString::fromStdString(p.start),
                                 p.end.empty() ? QStringLiteral("无") : QString::fromStdString(p.end)};
        for (int col = 0; col < 5; ++col) m_pTable->setItem(row, col, new QTableWidgetItem(cells[col]));
    }
    m_pTable->resizeColumnsToContents();
    if (r != 0 && !NoteLedgerDamage(this, r)) Warn(QStringLiteral("未能读取定投计划，请稍后再试。"));
    return r == 0;
}

void CPlanDlg::OnAdd() {
    PlanInput plan;
    plan.holding = m_nHolding;
    if (!ParseScaled(m_pAmount->text().toStdString(), 2, plan.amount) || plan.amount <= 0) {
        Warn(QStringLiteral("每次金额请键入一个大于 0 的数，最多 2 位小数。"));
        m_pAmount->setFocus();
        return;
    }
    if (!ParseScaled(m_pRate->text().toStdString(), 4, plan.rate)) {
        Warn(QStringLiteral("费率请键入一个数，最多 4 位小数。"));
        m_pRate->setFocus();
        return;
    }
    plan.schedule = static_cast<PlanSchedule>(m_pSchedule->currentData().toInt());
    plan.day = plan.schedule == PlanSchedule::EveryTradingDay ? 1 : m_pDay->currentData().toInt();
    plan.start = m_pStart->date().toString(QString::fromLatin1(kDayFormat)).toStdString();
    if (m_pHasEnd->isChecked())
        plan.end = m_pEnd->date().toString(QString::fromLatin1(kDayFormat)).toStdString();
    const int r = Ledger::AddPlan(plan);
    if (r == 0) {
        m_bChanged = true;
        Reload();
    } else if (r == -3) {
        Warn(QStringLiteral("这个定投计划不成立：请检查金额、日期（结束不早于开始）。"));
    } else if (!NoteLedgerDamage(this, r)) {
        Warn(QStringLiteral("定投计划未能保存，请稍后再试。"));
    }
}

void CPlanDlg::OnDelete() {
    const QList<QTableWidgetItem*> items = m_pTable->selectedItems();
    if (items.isEmpty()) return;
    const int row = items.front()->row();
    if (row < 0 || row >= static_cast<int>(m_plans.size())) return;
    if (MessageBox::Show(this, QStringLiteral("确定要删除这个定投计划吗？已经买入的交易保留。"),
                         QStringLiteral("提示"), MessageBox::Buttons::OkCancel,
                         MessageBox::Icon::Question) != MessageBox::kOk)
        return;
    const int r = Ledger::DeletePlan(m_plans[static_cast<size_t>(row)].id);
    if (r == 0) m_bChanged = true;
    Reload();
    if (r != 0 && !NoteLedgerDamage(this, r)) Warn(QStringLiteral("定投计划未能删除，请稍后再试。"));
}

}  // namespace zeza
