#include "dialogs/CAboutDlg.h"

#include <algorithm>

#include <QApplication>
#include <QPushButton>
#include <QTextDocument>

#include "platform/ServerConfig.h"
#include "ui_CAboutDlg.h"
#include "zeza/BuildConfig.h"

namespace zeza {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::CAboutDlg>()) {
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(size());

    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull()) ui->iconLabel->setPixmap(icon.pixmap(32, 32));

    ui->titleLabel->setText(QString::fromUtf8(kProgramTitle) +
                            QStringLiteral("\n版权所有 (C) 2008 Zeza 开发组"));
    const QString host = QString::fromStdString(HomeHost());
    ui->contactEdit->setPlainText(QStringLiteral("主页：http://%1/\n问题和建议请到主页留言").arg(host));

    // The template gives both texts two lines of a font without line gap; let
    // them grow downwards into the free space so no line is cut, and let the
    // borderless contact text sit on the dialog's own background.
    ui->titleLabel->resize(ui->titleLabel->width(),
                           std::max(ui->titleLabel->height(), ui->titleLabel->sizeHint().height()));
    ui->contactEdit->document()->setDocumentMargin(0);
    const int lines = ui->contactEdit->document()->blockCount();
    const int needed = lines * ui->contactEdit->fontMetrics().lineSpacing() + 4;
    ui->contactEdit->resize(ui->contactEdit->width(), std::max(ui->contactEdit->height(), needed));
    QPalette flat = ui->contactEdit->palette();
    flat.setColor(QPalette::Base, flat.color(QPalette::Window));
    ui->contactEdit->setPalette(flat);

    connect(ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
    ui->okButton->setFocus();
}

CAboutDlg::~CAboutDlg() = default;

}  // namespace zeza
