#pragma once

#include <memory>

#include <QDialog>

namespace Ui {
class CAboutDlg;
}

namespace zeza {

// "关于": the program's title and version, its copyright and how to reach its
// makers. Closes with OK or Escape; stores nothing.
class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

  private:
    std::unique_ptr<Ui::CAboutDlg> ui;
};

}  // namespace zeza
