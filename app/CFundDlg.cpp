#include "app/CFundDlg.h"

#include "ui_CFundDlg.h"

namespace zeza {

CFundDlg* g_pMainDlg = nullptr;

CFundDlg::CFundDlg(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::CFundDlg>()) {
    ui->setupUi(this);
    // A resizable application window with minimise and maximise boxes, not a
    // transient dialog box.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);

    g_pMainDlg = this;
    m_dbData.GetQuoteDates(m_arrDates);
}

CFundDlg::~CFundDlg() {
    if (g_pMainDlg == this) g_pMainDlg = nullptr;
}

void CFundDlg::setVisible(bool visible) {
    if (visible && !m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CFundDlg::OnInitDialog() {
    setWindowTitle(QStringLiteral("Zuzedidavi v1.0.1.2"));
    setWindowState(windowState() | Qt::WindowMaximized);
}

}  // namespace zeza
