#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QDialog>

#include "db/CFundDb.h"

namespace Ui {
class CFundDlg;
}

namespace zeza {

// The program's main window, run modally by start-up. Owns its own database
// object and the list of quote dates every view filters on.
class CFundDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CFundDlg(QWidget* parent = nullptr);
    ~CFundDlg() override;

    // The first time the window is shown it is initialised, as a dialog is
    // before it first appears; a window that is only constructed stays idle.
    void setVisible(bool visible) override;

    // Quote dates, newest first.
    const std::vector<std::string>& QuoteDates() const { return m_arrDates; }

  private:
    // Title and maximised state; runs once, just before the first show.
    void OnInitDialog();

    CFundDb m_dbData;
    std::vector<std::string> m_arrDates;
    std::unique_ptr<Ui::CFundDlg> ui;
    bool m_bInitialised = false;
};

// The one main window while it exists; background work reaches the window through it.
extern CFundDlg* g_pMainDlg;

}  // namespace zeza
