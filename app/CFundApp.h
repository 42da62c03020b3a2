#pragma once

#include <QColor>

class QDialog;
class QTranslator;

namespace zeza {

// The application object: start-up is its whole life. InitInstance prepares the
// dialog defaults and the database, passes the password gate and runs the main
// window; it returns false on every path, after which the process ends.
class CFundApp {
  public:
    // Background of every dialog (and of the main window's status bar).
    static constexpr QRgb kDialogBkColor = qRgb(191, 202, 230);

    bool InitInstance();

    // Shows the main window modally until it is finished (accepted or rejected).
    static void RunMainWindow(QDialog& dlg);

    // The program's icon in every window's title bar (and in the login dialog).
    static void SetApplicationIcon();
    // Gives every dialog, message box included, the background bk and text colour text.
    static void SetDialogBkColor(QColor bk, QColor text);
    // Makes Qt's own texts (file chooser, message box buttons, context menus)
    // Chinese like the rest of the program, whatever the machine's locale.
    // Returns the installed translator, or nullptr (and English texts) when the
    // system has no Chinese catalogue.
    static QTranslator* LoadQtTranslations();
};

}  // namespace zeza
