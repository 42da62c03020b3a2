#include "dialogs/CHoldingDlg.h"

#include <algorithm>
#include <vector>

#include <QApplication>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "db/CFundDb.h"
#include "dialogs/LedgerNotice.h"
#include "exchange/DecimalText.h"
#include "ledger/Ledger.h"
#include "platform/GbkQString.h"
#include "platform/MessageBox.h"
#include "suggest/CSuggestEdit.h"
#include "suggest/SuggestionList.h"
#include "ui_CHoldingDlg.h"

namespace zeza {

namespace {

// Catalogue codes are six characters; an entry is the code, "-" and the name.
constexpr size_t kCodeLength = 6;

bool IsDigits(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Typed text the code field refuses: anything printable that is not a digit.
bool IsRefusedForCode(const QString& text) {
    if (text.isEmpty() || IsDigits(text)) return false;
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
}

bool IsEnter(const QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// The focus moved to another control of the dialog, rather than the window
// losing it to a message box, another program or a context menu.
bool MovedWithinDialog(Qt::FocusReason reason) {
    switch (reason) {
        case Qt::MouseFocusReason:
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
        case Qt::OtherFocusReason:
            return true;
        default:
            return false;
    }
}

QString ShowNumber(double value) {
    return QString::fromStdString(FormatDecimal15(value));
}

// The value as a "%0.4f" text gives it: what is stored is what that text says.
double RoundedTo4(double value) {
    double rounded = value;
    ParseDecimal(FormatFixed4(value), rounded);
    return rounded;
}

}  // namespace

CHoldingDlg::CHoldingDlg(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::CHoldingDlg>()) {
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(size());
    // The template measured its texts for a font without line gap; let them
    // grow downwards into the free space below them so no line is cut.
    for (QLabel* text : findChildren<QLabel*>())
        text->resize(text->width(), std::max(text->height(), text->sizeHint().height()));
    QPalette red = ui->messageLabel->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    ui->messageLabel->setPalette(red);

    // Keys and focus changes are looked at before the controls handle them.
    for (QWidget* w :
         std::initializer_list<QWidget*>{ui->codeEdit, ui->costEdit, ui->unitsEdit, ui->unitCostEdit,
                                         ui->remarkEdit, ui->saveButton, ui->cancelButton})
        w->installEventFilter(this);

    connect(ui->saveButton, &QPushButton::clicked, this, &CHoldingDlg::OnSave);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

CHoldingDlg::~CHoldingDlg() = default;

void CHoldingDlg::SetValues(const std::string& code, double cost, double units, const std::string& remark) {
    m_strCode = code;
    m_dUnits = units;
    m_dCost = cost;
    if (units > 0) m_dUnitCost = cost / units;
    m_strRemark = remark;
}

void CHoldingDlg::SetMode(int mode, int holdingId) {
    m_nMode = mode;
    m_nHoldingId = holdingId;
}

void CHoldingDlg::setVisible(bool visible) {
    // The caller sets the values between construction and the run; the fields
    // are filled when the dialog opens.
    if (visible && !m_bInitDone) {
        m_bInitDone = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CHoldingDlg::OnInitDialog() {
    WriteFields();

    ui->codeEdit->Setup();
    std::vector<std::string> entries;
    LoadSuggestionList(entries);
    for (const std::string& entry : entries) {
        m_mapCodes[entry.substr(0, kCodeLength)] = entry;
        ui->codeEdit->AddCandidate(entry);
    }
    if (!m_strCode.empty()) {
        const auto it = m_mapCodes.find(m_strCode);
        if (it != m_mapCodes.end()) ui->codeEdit->setText(GbkToQString(it->second));
    }
    if (m_nMode == 1) {
        // The trades of a holding are trades of its fund: the fund stays.
        const int trades = Ledger::HasTrades(m_nHoldingId);
        NoteLedgerDamage(this, trades);
        ui->codeEdit->setReadOnly(trades == 1);
    }
}

void CHoldingDlg::ShowMessage(const QString& text) {
    ui->messageLabel->setText(text);
}

bool CHoldingDlg::ReadNumber(QLineEdit* edit, double& value) {
    if (ParseDecimal(edit->text().toStdString(), value)) return true;
    MessageBox::Show(this, QStringLiteral("请键入一个数。"), QApplication::applicationName(),
                     MessageBox::Buttons::Ok, MessageBox::Icon::Warning);
    edit->setFocus();
    return false;
}

bool CHoldingDlg::ReadFields() {
    // A remark with characters GBK cannot hold is read lossily here; saving
    // refuses it, and WriteFields never writes the lossy text back.
    m_strRemark = QStringToGbk(ui->remarkEdit->text());
    return ReadNumber(ui->unitCostEdit, m_dUnitCost) && ReadNumber(ui->costEdit, m_dCost) &&
           ReadNumber(ui->unitsEdit, m_dUnits);
}

void CHoldingDlg::WriteFields() {
    if (QStringToGbk(ui->remarkEdit->text()) != m_strRemark)
        ui->remarkEdit->setText(GbkToQString(m_strRemark));
    ui->unitCostEdit->setText(ShowNumber(m_dUnitCost));
    ui->costEdit->setText(ShowNumber(m_dCost));
    ui->unitsEdit->setText(ShowNumber(m_dUnits));
}

bool CHoldingDlg::OnCostOrUnitsLeft() {
    m_bChecking = true;
    const bool read = ReadFields();
    if (m_dUnits > 0) m_dUnitCost = m_dCost / m_dUnits;
    // Text that was not a number gives way to the last valid value.
    WriteFields();
    m_bChecking = false;
    return read;
}

void CHoldingDlg::OnSave() {
    const std::string code = QStringToGbk(ui->codeEdit->text()).substr(0, kCodeLength);
    if (m_mapCodes.find(code) == m_mapCodes.end()) {
        ui->codeEdit->setFocus();
        ShowMessage(QStringLiteral("请输入正确代码"));
        return;
    }
    if (!ReadFields()) return;
    const std::string remarkUtf8 = ui->remarkEdit->text().toStdString();
    if (GbkToUtf8(m_strRemark) != remarkUtf8) {
        ui->remarkEdit->setFocus();
        ShowMessage(QStringLiteral("备注含不支持的字符"));
        return;
    }
    WriteFields();

    int result = 0;
    const double cost = RoundedTo4(m_dCost);
    const double units = RoundedTo4(m_dUnits);
    if (m_nMode == 0) {
        result = CFundDb::AddHolding(code, cost, units, m_strRemark);
    } else if (m_nMode == 1) {
        // The ledger records a changed cost or units of a holding with trades as an adjustment.
        result = Ledger::UpdateHolding(m_nHoldingId, code, cost, units, m_strRemark, Ledger::BeijingNow());
    }
    if (result == -3) {
        ShowMessage(QStringLiteral("有交易记录，代码不能修改"));
        return;
    }
    if (result != 0) {
        NoteLedgerDamage(this, result);
        ShowMessage(QStringLiteral("保存失败 请重试"));
        return;
    }
    accept();
}

bool CHoldingDlg::HandleEnter() {
    if (focusWidget() == ui->saveButton) {
        OnSave();
        return true;
    }
    ShowMessage(QString());
    focusNextChild();
    return true;
}

bool CHoldingDlg::eventFilter(QObject* watched, QEvent* event) {
    // While the suggestion list is open, Enter and Escape belong to it.
    const bool listOpen = watched == ui->codeEdit && ui->codeEdit->Popup().isVisible();
    if (IsEnter(event) && !listOpen) return HandleEnter();

    if (watched == ui->codeEdit) {
        if (event->type() == QEvent::KeyPress && IsRefusedForCode(static_cast<QKeyEvent*>(event)->text()))
            return true;
        if (event->type() == QEvent::InputMethod &&
            IsRefusedForCode(static_cast<QInputMethodEvent*>(event)->commitString()))
            return true;
    }

    if (watched == ui->saveButton && event->type() == QEvent::MouseButtonPress && m_bSwallowSaveClick) {
        m_bSwallowSaveClick = false;
        return true;
    }

    if ((watched == ui->costEdit || watched == ui->unitsEdit) && event->type() == QEvent::FocusOut &&
        !m_bChecking && MovedWithinDialog(static_cast<QFocusEvent*>(event)->reason())) {
        const bool clickOnSave = static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason &&
                                 QApplication::focusWidget() == ui->saveButton;
        // The field finishes losing the focus first, as it would without us.
        watched->event(event);
        if (!OnCostOrUnitsLeft() && clickOnSave) {
            // The click that took the focus to "保存" must not save a number just refused.
            m_bSwallowSaveClick = true;
            QTimer::singleShot(0, this, [this] { m_bSwallowSaveClick = false; });
        }
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace zeza
