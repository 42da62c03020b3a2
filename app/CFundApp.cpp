#include "app/CFundApp.h"

#include <string>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QIcon>
#include <QLibraryInfo>
#include <QPalette>
#include <QTranslator>

#include "app/CFundDlg.h"
#include "db/CFundDb.h"
#include "dialogs/CLoginDlg.h"
#include "platform/MessageBox.h"

// The images are compiled into the GUI library, which the linker would drop
// unless something refers to them; this must be outside any namespace.
static void InitImageResources() {
    Q_INIT_RESOURCE(images);
}

namespace zeza {

bool CFundApp::InitInstance() {
    SetDialogBkColor(QColor(kDialogBkColor), QColor(Qt::black));
    SetApplicationIcon();

    // Provisions ./Zeza.db; on the very first run this creates it.
    CFundDb db;
    if (db.TemplateWriteFailed()) {
        // Nothing the program does could be kept, so say why it stops here.
        const QString folder = QDir::toNativeSeparators(QDir::currentPath());
        MessageBox::Show(nullptr,
                         QStringLiteral("无法在当前文件夹“%1”中创建数据文件 Zeza.db，程序无法运行。\n"
                                        "请在可以写入的文件夹中启动程序。")
                             .arg(folder),
                         QStringLiteral("提示"), MessageBox::Buttons::Ok, MessageBox::Icon::Warning);
        return false;
    }

    std::string password = db.ReadPassword();
    if (!password.empty()) {
        CLoginDlg login;
        login.SetPassword(std::move(password));
        password.clear();
        if (login.exec() != QDialog::Accepted) return false;
    }

    CFundDlg dlg;
    RunMainWindow(dlg);
    return false;
}

void CFundApp::RunMainWindow(QDialog& dlg) {
    // Modal like a dialog's own run, but ended only by finishing the dialog:
    // while a thanks request runs, a close only hides the window, and that
    // must not end the program before the request is done. Modal to its own
    // window only: the tray icon is a window of its own and must take the mouse.
    QApplication::setQuitOnLastWindowClosed(false);
    QEventLoop loop;
    QObject::connect(&dlg, &QDialog::finished, &loop, &QEventLoop::quit);
    dlg.setWindowModality(Qt::WindowModal);
    dlg.show();
    loop.exec();
}

QTranslator* CFundApp::LoadQtTranslations() {
    // The catalogue comes from the distribution, beside Qt's other translations.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

void CFundApp::SetApplicationIcon() {
    InitImageResources();
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addFile(QStringLiteral(":/images/icon-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
}

void CFundApp::SetDialogBkColor(QColor bk, QColor text) {
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, bk);
    palette.setColor(QPalette::Button, bk);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Text, text);
    QApplication::setPalette(palette);
}

}  // namespace zeza
