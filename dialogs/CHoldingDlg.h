#pragma once

#include <map>
#include <memory>
#include <string>

#include <QDialog>

#include "db/CFundDb.h"

class QLineEdit;

namespace Ui {
class CHoldingDlg;
}

namespace zeza {

// "我的基金": adds a holding (mode 0) or edits the holding with a given idc
// (mode 1). The code must name a fund of the catalogue; the unit cost is shown
// as cost / units. Closes with Accepted only after the row was written; a code
// that is not known, a field that is not a number or a write that failed keeps
// it open.
class CHoldingDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CHoldingDlg(QWidget* parent = nullptr);
    ~CHoldingDlg() override;

    // Before the dialog opens: the code (GBK; shown as its catalogue entry when
    // the catalogue has it), cost, units and remark (GBK) to start from.
    void SetValues(const std::string& code, double cost, double units, const std::string& remark);
    // Before the dialog opens: 0 adds a holding, 1 edits the holding with idc holdingId.
    void SetMode(int mode, int holdingId);

  protected:
    void setVisible(bool visible) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Fills the fields from the members and the code field's suggestions from the catalogue.
    void OnInitDialog();
    // Cost or units lost the focus: read everything, recompute the unit cost,
    // show it all again. False when a number was refused.
    bool OnCostOrUnitsLeft();
    // "保存": checks the code and the numbers, then writes the row.
    void OnSave();
    // Reads the fields into the members, stopping at the first number that is
    // not one (it says so and takes the focus there). False when one failed.
    bool ReadFields();
    // Shows the members in the fields.
    void WriteFields();
    bool ReadNumber(QLineEdit* edit, double& value);
    void ShowMessage(const QString& text);
    // Enter moves on like Tab (and presses "保存" where it has the focus).
    bool HandleEnter();

    std::unique_ptr<Ui::CHoldingDlg> ui;
    std::string m_strRemark;  // GBK
    double m_dUnitCost = 0;
    double m_dCost = 0;
    double m_dUnits = 0;
    int m_nHoldingId = 0;
    int m_nMode = 0;
    std::string m_strCode;  // GBK
    CFundDb m_db;
    std::map<std::string, std::string> m_mapCodes;  // 6-character code -> catalogue entry (GBK)
    bool m_bInitDone = false;
    bool m_bChecking = false;
    // A number was refused while a click moved the focus onto "保存": that click must not save.
    bool m_bSwallowSaveClick = false;
};

}  // namespace zeza
