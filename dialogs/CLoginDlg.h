#pragma once

#include <memory>
#include <string>
#include <utility>

#include <QDialog>

namespace Ui {
class CLoginDlg;
}

namespace zeza {

// The password gate shown at start-up when a password is stored. Ends with
// Accepted only once the right password has been typed; Escape or closing the
// window rejects it.
class CLoginDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CLoginDlg(QWidget* parent = nullptr);
    ~CLoginDlg() override;

    // The stored password (GBK bytes) that the entry must match exactly.
    void SetPassword(std::string password) { m_strPassword = std::move(password); }

  private:
    // "确定" or Enter: accepts a matching entry, otherwise says so and asks again.
    void OnOK();
    // Reads the password field (1021) into m_strEntered; false when the text has
    // characters GBK cannot hold, which no stored password can match.
    bool ReadEntered();

    std::unique_ptr<Ui::CLoginDlg> ui;
    std::string m_strPassword;  // GBK
    std::string m_strEntered;   // GBK
};

}  // namespace zeza
