#include "dialogs/CSecurityDlg.h"

#include <algorithm>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/GbkCodec.h"
#include "ui_CSecurityDlg.h"

namespace zeza {

namespace {

// The field's text in GBK; false when it has characters GBK cannot hold, which
// would be stored as '?' and could never be typed back at the login.
bool ReadGbk(const QLineEdit* edit, std::string& gbk) {
    const std::string utf8 = edit->text().toStdString();
    gbk = Utf8ToGbk(utf8);
    return GbkToUtf8(gbk) == utf8;
}

}  // namespace

CSecurityDlg::CSecurityDlg(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::CSecurityDlg>()) {
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(size());
    // The template measured its texts for a font without line gap; let them
    // grow downwards into the free space below them so no line is cut.
    for (QLabel* text : {ui->firstLabel, ui->secondLabel, ui->messageLabel})
        text->resize(text->width(), std::max(text->height(), text->sizeHint().height()));
    QPalette red = ui->messageLabel->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    ui->messageLabel->setPalette(red);

    connect(ui->requireCheck, &QCheckBox::toggled, this, &CSecurityDlg::OnRequireToggled);
    connect(ui->okButton, &QPushButton::clicked, this, &CSecurityDlg::OnOK);
}

CSecurityDlg::~CSecurityDlg() = default;

void CSecurityDlg::setVisible(bool visible) {
    // Read the stored state when the dialog opens, not when it is built.
    if (visible && !m_bInitDone) {
        m_bInitDone = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CSecurityDlg::OnInitDialog() {
    m_strCurrent = m_db.ReadPassword();
    if (m_strCurrent.empty()) {
        m_bHasPassword = 0;
        ui->firstLabel->setText(QStringLiteral("输入密码："));
        ui->secondLabel->setText(QStringLiteral("再次输入："));
    } else {
        m_bRequire = 1;
        m_bHasPassword = 1;
        ui->firstLabel->setText(QStringLiteral("输入旧密码："));
        ui->secondLabel->setText(QStringLiteral("输入新密码："));
    }
    ui->requireCheck->setChecked(m_bRequire != 0);
    OnRequireToggled(m_bRequire != 0);
}

void CSecurityDlg::OnRequireToggled(bool checked) {
    ui->firstEdit->setReadOnly(!checked);
    ui->secondEdit->setReadOnly(!checked);
}

void CSecurityDlg::ShowMessage(const QString& text) {
    ui->messageLabel->setText(text);
}

bool CSecurityDlg::StorePassword(const std::string& password) {
    if (CFundDb::StorePassword(password) != 0) return false;
    // A database without its settings row takes the statement and stores nothing.
    return m_db.ReadPassword() == password;
}

void CSecurityDlg::OnOK() {
    m_bRequire = ui->requireCheck->isChecked() ? 1 : 0;
    const QString notStored = QStringLiteral("密码未能保存 请重试");
    if (!m_bRequire) {
        // Clearing the box removes the password without asking for the old one.
        if (!StorePassword(std::string())) {
            ShowMessage(notStored);
            return;
        }
        accept();
        return;
    }

    std::string first, second;
    const bool firstExact = ReadGbk(ui->firstEdit, first);
    const bool secondExact = ReadGbk(ui->secondEdit, second);
    if (m_bHasPassword) {
        if (!firstExact || first != m_strCurrent) {
            ShowMessage(QStringLiteral("旧密码不正确 请重新输入"));
            return;
        }
        if (!secondExact) {
            ShowMessage(QStringLiteral("密码含不支持的字符"));
            return;
        }
    } else {
        if (!firstExact || !secondExact) {
            ShowMessage(QStringLiteral("密码含不支持的字符"));
            return;
        }
        if (first != second) {
            ShowMessage(QStringLiteral("两次输入不一致 请重新输入"));
            return;
        }
    }
    if (!StorePassword(second)) {
        ShowMessage(notStored);
        return;
    }
    accept();
}

}  // namespace zeza
