#pragma once

#include <string>
#include <vector>

#include <QDialog>

#include "ledger/LedgerTypes.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace zeza {

// "交易记录" of one holding: its trades oldest first with what their confirmations gave, the
// units free to sell, and the commands on them: 添加, 修改 (a pending trade the user made), 撤销
// (cancels a pending trade, undoes an automatic one), how dividends are taken, and the regular
// plans. Every write goes through the ledger; the table is read again after each.
class CTradeDlg : public QDialog {
    Q_OBJECT

  public:
    // The trades of holding (idc) of fund code (GBK) and name (GBK, may be empty).
    CTradeDlg(long long holding, const std::string& code, const std::string& name, QWidget* parent = nullptr);
    ~CTradeDlg() override;

    // Reads the trades, the free units and the dividend choice again. False when the ledger could
    // not be read (the table is then empty).
    bool Reload();
    // The trades shown, in table order.
    const std::vector<TradeRecord>& Trades() const { return m_trades; }
    // Whether a command changed the ledger since the dialog opened.
    bool Changed() const { return m_bChanged; }

    // The commands of the buttons (tests call them as a click does).
    void OnAdd();
    void OnEdit();
    void OnCancelTrade();
    void OnPlans();

  private:
    void OnReinvestChosen(int index);
    void UpdateButtons();
    // The trade of the selected row, or nullptr.
    const TradeRecord* Selected() const;
    // Tells a failed ledger call (the damage once a run, else a plain failure).
    void TellFailure(int result, const QString& what);

    long long m_nHolding = 0;
    std::vector<TradeRecord> m_trades;
    bool m_bChanged = false;
    bool m_bLoading = false;
    QLabel* m_pFree = nullptr;
    QTableWidget* m_pTable = nullptr;
    QPushButton* m_pEdit = nullptr;
    QPushButton* m_pCancel = nullptr;
    QComboBox* m_pReinvest = nullptr;
};

}  // namespace zeza
