#pragma once

#include <string>

#include <QDialog>

#include "ledger/LedgerTypes.h"

class QComboBox;
class QDateTimeEdit;
class QLineEdit;

namespace zeza {

// "交易": records a trade of one holding, or changes a pending one the user made. Only the fields
// of the chosen kind are enabled. Money, units and the fee rate are read from their text exactly.
// Closes with Accepted only after the ledger stored the trade; a trade the ledger refuses (a bad
// input, more units than are free) is told and the dialog stays open.
class CTradeEditDlg : public QDialog {
    Q_OBJECT

  public:
    // A new trade of holding (idc), placed now in Beijing.
    explicit CTradeEditDlg(long long holding, QWidget* parent = nullptr);
    ~CTradeEditDlg() override;

    // Before the dialog opens: edit the pending trade instead (its id and fields).
    void SetTrade(const TradeRecord& trade);

    // The id of the trade stored last (0 before any).
    long long TradeId() const { return m_nTradeId; }

  private:
    // The kind changed: enable its fields and give buys and sells their usual fee rate.
    void OnKindChanged();
    // "确定": reads the fields and hands the trade to the ledger.
    void OnOk();
    // The fields as a trade; false (told, focus on the field) when one is not a number.
    bool ReadFields(TradeInput& input);
    void Warn(const QString& text);

    long long m_nHolding = 0;
    long long m_nTradeId = 0;
    bool m_bEditing = false;
    Hundredths m_nOwnFrozen = 0;  // an edited pending sale's own units, free again while it changes
    QComboBox* m_pKind = nullptr;
    QDateTimeEdit* m_pPlaced = nullptr;
    QLineEdit* m_pAmount = nullptr;
    QLineEdit* m_pUnits = nullptr;
    QLineEdit* m_pRate = nullptr;
    QLineEdit* m_pToCode = nullptr;
    QLineEdit* m_pCost = nullptr;
    QLineEdit* m_pRemark = nullptr;
};

}  // namespace zeza
