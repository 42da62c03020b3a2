#pragma once

#include <string>
#include <vector>

#include <QWidget>

#include "ledger/LedgerTypes.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace zeza {

// "收益日历": a month of the ledger's daily income, Monday to Sunday in six rows, each day with its
// total coloured as the fund list colours a rise or a fall; ◀ and ▶ move by a month, the header
// gives the month's and the year's totals, and a click on a day lists that day's income per
// holding beside the grid. The main window shows it over the list's rectangle.
class CIncomeCalendar : public QWidget {
    Q_OBJECT

  public:
    explicit CIncomeCalendar(QWidget* parent = nullptr);
    ~CIncomeCalendar() override;

    // Reads the month shown again, and the day listed. The first time it shows the month of the
    // newest day with income, else the current month (Beijing).
    void Reload();
    // Shows month (1..12) of year; the day list is emptied.
    void ShowMonth(int year, int month);
    // Lists the income of day (1..31) of the month shown per holding, as a click on it does.
    void SelectDay(int day);

    int Year() const { return m_nYear; }
    int Month() const { return m_nMonth; }
    QTableWidget* Grid() const { return m_pGrid; }
    QTableWidget* DayList() const { return m_pDayList; }

  private:
    void OnCellClicked(int row, int column);
    // The month of the newest day with income, or false when none was found.
    bool FindNewestMonth(int& year, int& month);
    void FillGrid(const std::vector<DayIncome>& days);
    void FillDayList();
    // A failed read: the damage is told once a run, otherwise the header says it.
    void NoteFailure(int result);

    int m_nYear = 0;
    int m_nMonth = 0;
    int m_nDay = 0;  // the day listed, 0 none
    bool m_bPlaced = false;
    QPushButton* m_pPrev = nullptr;
    QPushButton* m_pNext = nullptr;
    QLabel* m_pMonthLabel = nullptr;
    QLabel* m_pTotals = nullptr;
    QTableWidget* m_pGrid = nullptr;
    QLabel* m_pDayLabel = nullptr;
    QTableWidget* m_pDayList = nullptr;
};

}  // namespace zeza
