#pragma once

#include <memory>
#include <string>

#include <QDialog>

#include "db/CFundDb.h"

namespace Ui {
class CSecurityDlg;
}

namespace zeza {

// "安全设置": sets, changes or removes the start-up password. Closes with
// Accepted only once the new state is stored; anything refused or not stored
// is said in the red message line and the dialog stays open.
class CSecurityDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CSecurityDlg(QWidget* parent = nullptr);
    ~CSecurityDlg() override;

  protected:
    void setVisible(bool visible) override;

  private:
    // Reads the stored password and sets the labels and the fields to match.
    void OnInitDialog();
    // The check box makes both password fields editable, clearing it read-only.
    void OnRequireToggled(bool checked);
    // "确定": removes, checks or stores the password.
    void OnOK();
    // Stores password (GBK) and reads it back; false when it is not what is stored now.
    bool StorePassword(const std::string& password);
    void ShowMessage(const QString& text);

    std::unique_ptr<Ui::CSecurityDlg> ui;
    int m_bRequire = 0;
    std::string m_strCurrent;  // GBK, the password stored when the dialog opened
    int m_bHasPassword = 0;
    CFundDb m_db;
    bool m_bInitDone = false;
};

}  // namespace zeza
