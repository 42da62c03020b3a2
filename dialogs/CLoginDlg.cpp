#include "dialogs/CLoginDlg.h"

#include <algorithm>

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "platform/GbkCodec.h"
#include "platform/MessageBox.h"
#include "ui_CLoginDlg.h"

namespace zeza {

CLoginDlg::CLoginDlg(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::CLoginDlg>()) {
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(size());
    // The template measured its texts for a font without line gap; let them
    // grow downwards into the free space below them so no line is cut.
    for (QLabel* text : {ui->promptLabel, ui->passwordLabel})
        text->resize(text->width(), std::max(text->height(), text->sizeHint().height()));

    // The template shows the application icon at its natural 32-pixel size.
    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull()) ui->iconLabel->setPixmap(icon.pixmap(32, 32));

    connect(ui->okButton, &QPushButton::clicked, this, &CLoginDlg::OnOK);
    ui->passwordEdit->setFocus();
}

CLoginDlg::~CLoginDlg() = default;

bool CLoginDlg::ReadEntered() {
    const std::string utf8 = ui->passwordEdit->text().toStdString();
    m_strEntered = Utf8ToGbk(utf8);
    // Characters GBK cannot hold become '?' on the way; such an entry must not
    // pass for a stored password that really contains '?'.
    return GbkToUtf8(m_strEntered) == utf8;
}

void CLoginDlg::OnOK() {
    const bool exact = ReadEntered();
    if (exact && m_strEntered == m_strPassword) {
        accept();
        return;
    }
    MessageBox::Show(this, QStringLiteral("密码错误，请重新输入"), QStringLiteral("提示"),
                     MessageBox::Buttons::Ok, MessageBox::Icon::Information);
    m_strEntered.clear();
    ui->passwordEdit->clear();
    ui->passwordEdit->setFocus();
}

}  // namespace zeza
