#pragma once

#include <vector>

#include <QDialog>

#include "ledger/LedgerTypes.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QTableWidget;

namespace zeza {

// "定投": the regular plans of one holding, a new plan (amount, fee rate, every trading day, a
// weekday each week or a day each month, first and last day) and 删除 of the selected one. The
// ledger makes a plan's buys at its confirmation pass.
class CPlanDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CPlanDlg(long long holding, QWidget* parent = nullptr);
    ~CPlanDlg() override;

    // Reads the plans again; false when the ledger could not be read.
    bool Reload();
    const std::vector<PlanRecord>& Plans() const { return m_plans; }
    bool Changed() const { return m_bChanged; }

    // The buttons' commands.
    void OnAdd();
    void OnDelete();

  private:
    // The schedule changed: the day choice lists weekdays, days of a month, or nothing.
    void OnScheduleChanged();
    void Warn(const QString& text);

    long long m_nHolding = 0;
    std::vector<PlanRecord> m_plans;
    bool m_bChanged = false;
    QTableWidget* m_pTable = nullptr;
    QLineEdit* m_pAmount = nullptr;
    QLineEdit* m_pRate = nullptr;
    QComboBox* m_pSchedule = nullptr;
    QComboBox* m_pDay = nullptr;
    QDateEdit* m_pStart = nullptr;
    QCheckBox* m_pHasEnd = nullptr;
    QDateEdit* m_pEnd = nullptr;
};

}  // namespace zeza
