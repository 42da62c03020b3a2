#include "dialogs/CTradeDlg.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "dialogs/CPlanDlg.h"
#include "dialogs/CTradeEditDlg.h"
#include "dialogs/LedgerFigures.h"
#include "dialogs/LedgerNotice.h"
#include "ledger/Ledger.h"
#include "platform/GbkQString.h"
#include "platform/MessageBox.h"

namespace zeza {

namespace {

enum Column {
    kPlaced,
    kKind,
    kAmount,
    kUnits,
    kRate,
    kStatus,
    kConfirmDay,
    kConfirmNav,
    kConfirmUnits,
    kConfirmAmount,
    kFee,
    kRemark,
    kColumnCount
};

constexpr const char* kCaptions[kColumnCount] = {"下单时间", "类型",     "金额",     "份额",
                                                 "费率(%)",  "状态",     "确认日期", "确认净值",
                                                 "确认份额", "确认金额", "手续费",   "备注"};

// A conversion's purchase is the half recorded in the fund bought.
bool IsConversionPurchase(const TradeRecord& t) {
    return t.kind == TradeKind::Buy && t.link != 0;
}

QString KindText(const TradeRecord& t) {
    if (IsConversionPurchase(t)) return QStringLiteral("转换转入");
    QString text = GbkToQString(TradeKindText(t.kind));
    if (t.automatic) text += QStringLiteral("(自动)");
    return text;
}

QString Money(Fen v) {
    return QString::fromStdString(FormatScaled(v, 2));
}

// The cells of one trade; a figure that does not belong to its kind (or is not known yet) is blank.
QStringList Cells(const TradeRecord& t) {
    QStringList c;
    for (int i = 0; i < kColumnCount; ++i) c << QString();
    c[kPlaced] = QString::fromStdString(t.placed);
    c[kKind] = KindText(t);
    switch (t.kind) {
        case TradeKind::Buy:
            if (!IsConversionPurchase(t)) c[kAmount] = Money(t.amount);
            c[kRate] = QString::fromStdString(FormatRatePercent(t.rate));
            break;
        case TradeKind::Sell:
        case TradeKind::Convert:
            c[kUnits] = Money(t.units);
            c[kRate] = QString::fromStdString(FormatRatePercent(t.rate));
            break;
        case TradeKind::CashDividend:
        case TradeKind::Reinvest:
            c[kAmount] = Money(t.amount);
            break;
        case TradeKind::Adjust:
            // A split multiplies the units: it has neither units nor cost of its own.
            if (t.splitRatio.empty()) {
                c[kAmount] = Money(t.cost);
                c[kUnits] = Money(t.units);
            }
            break;
    }
    c[kStatus] = GbkToQString(TradeStatusText(t.status));
    if (!t.confirmDay.empty()) {
        c[kConfirmDay] = QString::fromStdString(t.confirmDay);
        if (t.confirmNav != 0) c[kConfirmNav] = QString::fromStdString(FormatScaled(t.confirmNav, 4));
        c[kConfirmUnits] = Money(t.confirmUnits);
        c[kConfirmAmount] = Money(t.confirmAmount);
        c[kFee] = Money(t.fee);
    }
    QString remark = GbkToQString(t.remark);
    if (!t.splitRatio.empty())
        remark =
            QStringLiteral("拆分 ") + GbkToQString(t.splitRatio) + (remark.isEmpty() ? "" : " ") + remark;
    c[kRemark] = remark;
    return c;
}

QPushButton* NewButton(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

}  // namespace

CTradeDlg::CTradeDlg(long long holding, const std::string& code, const std::string& name, QWidget* parent)
    : QDialog(parent), m_nHolding(holding) {
    setWindowTitle(QStringLiteral("交易记录 - ") + GbkToQString(code) +
                   (name.empty() ? QString() : QStringLiteral(" ") + GbkToQString(name)));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    m_pFree = new QLabel(this);
    m_pFree->setObjectName(QStringLiteral("freeUnitsLabel"));

    m_pTable = new QTableWidget(0, kColumnCount, this);
    m_pTable->setObjectName(QStringLiteral("tradeTable"));
    QStringList captions;
    for (const char* c : kCaptions) captions << QString::fromUtf8(c);
    m_pTable->setHorizontalHeaderLabels(captions);
    m_pTable->verticalHeader()->hide();
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pTable->horizontalHeader()->setStretchLastSection(true);

    auto* add = NewButton(this, "addButton", QStringLiteral("添加"));
    m_pEdit = NewButton(this, "editButton", QStringLiteral("修改"));
    m_pCancel = NewButton(this, "cancelTradeButton", QStringLiteral("撤销"));
    m_pReinvest = new QComboBox(this);
    m_pReinvest->setObjectName(QStringLiteral("dividendCombo"));
    m_pReinvest->addItem(QStringLiteral("现金分红"));
    m_pReinvest->addItem(QStringLiteral("红利再投资"));
    auto* plans = NewButton(this, "planButton", QStringLiteral("定投…"));
    auto* close = NewButton(this, "closeButton", QStringLiteral("关闭"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(m_pEdit);
    buttons->addWidget(m_pCancel);
    buttons->addSpacing(16);
    buttons->addWidget(new QLabel(QStringLiteral("分红方式："), this));
    buttons->addWidget(m_pReinvest);
    buttons->addWidget(plans);
    buttons->addStretch();
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pFree);
    layout->addWidget(m_pTable, 1);
    layout->addLayout(buttons);
    resize(980, 420);

    connect(add, &QPushButton::clicked, this, &CTradeDlg::OnAdd);
    connect(m_pEdit, &QPushButton::clicked, this, &CTradeDlg::OnEdit);
    connect(m_pCancel, &QPushButton::clicked, this, &CTradeDlg::OnCancelTrade);
    connect(plans, &QPushButton::clicked, this, &CTradeDlg::OnPlans);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_pReinvest, &QComboBox::currentIndexChanged, this, &CTradeDlg::OnReinvestChosen);
    connect(m_pTable, &QTableWidget::itemSelectionChanged, this, &CTradeDlg::UpdateButtons);
    connect(m_pTable, &QTableWidget::cellDoubleClicked, this, &CTradeDlg::OnEdit);
    Reload();
}

CTradeDlg::~CTradeDlg() = default;

void CTradeDlg::TellFailure(int result, const QString& what) {
    if (NoteLedgerDamage(this, result)) return;
    MessageBox::Show(this, what, QStringLiteral("提示"), MessageBox::Buttons::Ok, MessageBox::Icon::Warning);
}

bool CTradeDlg::Reload() {
    const long long keep = Selected() ? Selected()->id : 0;
    m_bLoading = true;
    m_trades.clear();
    const int r = Ledger::ListTrades(m_nHolding, m_trades);
    if (r != 0) m_trades.clear();
    m_pTable->setRowCount(0);
    m_pTable->setRowCount(static_cast<int>(m_trades.size()));
    for (int row = 0; row < static_cast<int>(m_trades.size()); ++row) {
        const QStringList cells = Cells(m_trades[static_cast<size_t>(row)]);
        for (int col = 0; col < kColumnCount; ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            const bool figure = col == kAmount || col == kUnits || col == kRate || col >= kConfirmNav;
            if (figure && col != kRemark) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_pTable->setItem(row, col, item);
        }
        if (m_trades[static_cast<size_t>(row)].id == keep) m_pTable->selectRow(row);
    }
    m_pTable->resizeColumnsToContents();

    Hundredths free = 0;
    const int fr = r == 0 ? Ledger::FreeUnits(m_nHolding, free) : r;
    m_pFree->setText(fr == 0 ? QStringLiteral("可卖份额：") + QString::fromStdString(FormatScaled(free, 2))
                             : QStringLiteral("交易记录暂不可用"));
    bool reinvest = false;
    if (fr == 0 && Ledger::GetReinvest(m_nHolding, reinvest) == 0)
        m_pReinvest->setCurrentIndex(reinvest ? 1 : 0);
    m_bLoading = false;
    UpdateButtons();
    if (r != 0) TellFailure(r, QStringLiteral("未能读取交易记录，请稍后再试。"));
    return r == 0;
}

const TradeRecord* CTradeDlg::Selected() const {
    const QList<QTableWidgetItem*> items = m_pTable->selectedItems();
    if (items.isEmpty()) return nullptr;
    const int row = items.front()->row();
    return row >= 0 && row < static_cast<int>(m_trades.size()) ? &m_trades[static_cast<size_t>(row)]
                                                               : nullptr;
}

void CTradeDlg::UpdateButtons() {
    const TradeRecord* t = Selected();
    const bool pending = t && t->status == TradeStatus::Pending;
    m_pEdit->setEnabled(pending && !t->automatic && !IsConversionPurchase(*t));
    m_pCancel->setEnabled(t && (pending || (t->automatic && t->status != TradeStatus::Cancelled)));
}

void CTradeDlg::OnAdd() {
    CTradeEditDlg editor(m_nHolding, this);
    if (editor.exec() != QDialog::Accepted) return;
    m_bChanged = true;
    Reload();
}

void CTradeDlg::OnEdit() {
    const TradeRecord* t = Selected();
    if (!t || !m_pEdit->isEnabled()) return;
    CTradeEditDlg editor(m_nHolding, this);
    editor.SetTrade(*t);
    if (editor.exec() != QDialog::Accepted) return;
    m_bChanged = true;
    Reload();
}

void CTradeDlg::OnCancelTrade() {
    const TradeRecord* t = Selected();
    if (!t || !m_pCancel->isEnabled()) return;
    const long long id = t->id;
    const QString question = t->automatic
                                 ? QStringLiteral("确定要撤销这笔自动记录的") + KindText(*t) +
                                       QStringLiteral("吗？撤销后它不会再自动记录。")
                                 : QStringLiteral("确定要撤销这笔") + KindText(*t) + QStringLiteral("吗？");
    if (MessageBox::Show(this, question, QStringLiteral("提示"), MessageBox::Buttons::OkCancel,
                         MessageBox::Icon::Question) != MessageBox::kOk)
        return;
    const int r = Ledger::CancelTrade(id);
    if (r == 0) m_bChanged = true;
    // Also after a failure: the trade may have been confirmed meanwhile.
    Reload();
    if (r == -3)
        TellFailure(r, QStringLiteral("这笔交易已确认，不能撤销。"));
    else if (r != 0)
        TellFailure(r, QStringLiteral("未能撤销，请稍后再试。"));
}

void CTradeDlg::OnReinvestChosen(int index) {
    if (m_bLoading) return;
    const int r = Ledger::SetReinvest(m_nHolding, index == 1);
    if (r == 0) return;
    TellFailure(r, QStringLiteral("分红方式未能保存，请稍后再试。"));
    // Show what is stored.
    Reload();
}

void CTradeDlg::OnPlans() {
    CPlanDlg plans(m_nHolding, this);
    plans.exec();
    if (plans.Changed()) m_bChanged = true;
}

}  // namespace zeza
