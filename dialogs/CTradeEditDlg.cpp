#include "dialogs/CTradeEditDlg.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "dialogs/LedgerFigures.h"
#include "dialogs/LedgerNotice.h"
#include "ledger/Ledger.h"
#include "platform/GbkQString.h"
#include "platform/MessageBox.h"

namespace zeza {

namespace {

constexpr const char* kTimeFormat = "yyyy-MM-dd HH:mm";

// The kinds in the order the choice lists them.
constexpr TradeKind kKinds[] = {TradeKind::Buy,          TradeKind::Sell,     TradeKind::Convert,
                                TradeKind::CashDividend, TradeKind::Reinvest, TradeKind::Adjust};

bool TakesAmount(TradeKind k) {
    return k == TradeKind::Buy || k == TradeKind::CashDividend || k == TradeKind::Reinvest;
}
bool TakesUnits(TradeKind k) {
    return k == TradeKind::Sell || k == TradeKind::Convert || k == TradeKind::Adjust;
}
bool TakesRate(TradeKind k) {
    return k == TradeKind::Buy || k == TradeKind::Sell || k == TradeKind::Convert;
}

QLineEdit* NewEdit(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    return e;
}

}  // namespace

CTradeEditDlg::CTradeEditDlg(long long holding, QWidget* parent) : QDialog(parent), m_nHolding(holding) {
    setWindowTitle(QStringLiteral("交易"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    m_pKind = new QComboBox(this);
    m_pKind->setObjectName(QStringLiteral("kindCombo"));
    for (TradeKind k : kKinds) m_pKind->addItem(GbkToQString(TradeKindText(k)), static_cast<int>(k));
    m_pPlaced = new QDateTimeEdit(this);
    m_pPlaced->setObjectName(QStringLiteral("placedEdit"));
    m_pPlaced->setDisplayFormat(QString::fromLatin1(kTimeFormat));
    m_pPlaced->setDateTime(QDateTime::fromString(QString::fromStdString(Ledger::BeijingNow()),
                                                 QString::fromLatin1(kTimeFormat)));
    m_pAmount = NewEdit(this, "amountEdit");
    m_pUnits = NewEdit(this, "unitsEdit");
    m_pRate = NewEdit(this, "rateEdit");
    m_pToCode = NewEdit(this, "toCodeEdit");
    m_pToCode->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,6}")), m_pToCode));
    m_pCost = NewEdit(this, "costEdit");
    m_pRemark = NewEdit(this, "remarkEdit");
    m_pRemark->setMaxLength(500);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("类型："), m_pKind);
    form->addRow(QStringLiteral("下单时间："), m_pPlaced);
    form->addRow(QStringLiteral("金额（元）："), m_pAmount);
    form->addRow(QStringLiteral("份额："), m_pUnits);
    form->addRow(QStringLiteral("费率（%）："), m_pRate);
    form->addRow(QStringLiteral("转入代码："), m_pToCode);
    form->addRow(QStringLiteral("成本（元）："), m_pCost);
    form->addRow(QStringLiteral("备注："), m_pRemark);

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setAutoDefault(false);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    setMinimumWidth(320);

    connect(m_pKind, &QComboBox::currentIndexChanged, this, &CTradeEditDlg::OnKindChanged);
    connect(ok, &QPushButton::clicked, this, &CTradeEditDlg::OnOk);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    OnKindChanged();
}

CTradeEditDlg::~CTradeEditDlg() = default;

void CTradeEditDlg::SetTrade(const TradeRecord& trade) {
    m_bEditing = true;
    m_nTradeId = trade.id;
    if (trade.status == TradeStatus::Pending &&
        (trade.kind == TradeKind::Sell || trade.kind == TradeKind::Convert))
        m_nOwnFrozen = trade.units;
    setWindowTitle(QStringLiteral("修改交易"));
    // The trade's own rate stays: the kind is set first, the fields after it.
    m_pKind->setCurrentIndex(m_pKind->findData(static_cast<int>(trade.kind)));
    m_pPlaced->setDateTime(
        QDateTime::fromString(QString::fromStdString(trade.placed), QString::fromLatin1(kTimeFormat)));
    m_pAmount->setText(TakesAmount(trade.kind) ? QString::fromStdString(FormatScaled(trade.amount, 2))
                                               : QString());
    m_pUnits->setText(TakesUnits(trade.kind) ? QString::fromStdString(FormatScaled(trade.units, 2))
                                             : QString());
    m_pRate->setText(TakesRate(trade.kind) ? QString::fromStdString(FormatRatePercent(trade.rate))
                                           : QString());
    m_pToCode->setText(GbkToQString(trade.toCode));
    m_pCost->setText(trade.kind == TradeKind::Adjust ? QString::fromStdString(FormatScaled(trade.cost, 2))
                                                     : QString());
    m_pRemark->setText(GbkToQString(trade.remark));
}

void CTradeEditDlg::OnKindChanged() {
    const auto kind = static_cast<TradeKind>(m_pKind->currentData().toInt());
    m_pAmount->setEnabled(TakesAmount(kind));
    m_pUnits->setEnabled(TakesUnits(kind));
    m_pRate->setEnabled(TakesRate(kind));
    m_pToCode->setEnabled(kind == TradeKind::Convert);
    m_pCost->setEnabled(kind == TradeKind::Adjust);
    // The usual front-end rates of a purchase and of a redemption.
    if (kind == TradeKind::Buy) m_pRate->setText(QStringLiteral("0.15"));
    if (kind == TradeKind::Sell) m_pRate->setText(QStringLiteral("0.50"));
}

void CTradeEditDlg::Warn(const QString& text) {
    MessageBox::Show(this, text, QStringLiteral("提示"), MessageBox::Buttons::Ok, MessageBox::Icon::Warning);
}

bool CTradeEditDlg::ReadFields(TradeInput& input) {
    input.holding = m_nHolding;
    input.kind = static_cast<TradeKind>(m_pKind->currentData().toInt());
    input.placed = m_pPlaced->dateTime().toString(QString::fromLatin1(kTimeFormat)).toStdString();
    struct Field {
        QLineEdit* edit;
        int decimals;
        int64_t* value;
        const char* what;
    };
    const Field fields[] = {{m_pAmount, 2, &input.amount, "金额"},
                            {m_pUnits, 2, &input.units, "份额"},
                            {m_pRate, 4, &input.rate, "费率"},
                            {m_pCost, 2, &input.cost, "成本"}};
    for (const Field& f : fields) {
        if (!f.edit->isEnabled()) continue;
        if (!ParseScaled(f.edit->text().toStdString(), f.decimals, *f.value)) {
            Warn(QStringLiteral("%1请键入一个数，最多 %2 位小数。")
                     .arg(QString::fromUtf8(f.what))
                     .arg(f.decimals));
            f.edit->setFocus();
            return false;
        }
    }
    if (m_pToCode->isEnabled()) input.toCode = m_pToCode->text().toStdString();
    input.remark = QStringToGbk(m_pRemark->text());
    if (GbkToQString(input.remark) != m_pRemark->text()) {
        Warn(QStringLiteral("备注含不支持的字符"));
        m_pRemark->setFocus();
        return false;
    }
    return true;
}

void CTradeEditDlg::OnOk() {
    TradeInput input;
    if (!ReadFields(input)) return;
    long long id = 0;
    const int r = m_bEditing ? Ledger::EditTrade(m_nTradeId, input) : Ledger::AddTrade(input, &id);
    if (r == 0) {
        if (!m_bEditing) m_nTradeId = id;
        accept();
        return;
    }
    if (r == -3) {
        Warn(QStringLiteral("这笔交易不成立：请检查下单时间、金额、份额和转入代码。"));
    } else if (r == -4) {
        Hundredths free = 0;
        const int fr = Ledger::FreeUnits(m_nHolding, free);
        Warn(QStringLiteral("份额不足：可卖份额 ") +
             (fr == 0 ? QString::fromStdString(FormatScaled(free + m_nOwnFrozen, 2))
                      : QStringLiteral("未知")));
        m_pUnits->setFocus();
    } else {
        NoteLedgerDamage(this, r);
        Warn(QStringLiteral("交易未能保存，请稍后再试。"));
    }
}

}  // namespace zeza
