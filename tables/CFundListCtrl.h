#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QColor>
#include <QTableView>

#include "tables/FundListModel.h"
#include "tables/ViewDefinition.h"

namespace zeza {

// The report table of the main window. Every view is a query whose rows are
// poured in here; the control adds the watch check box column, per-row colours,
// the light-blue grid and sorting by a click on a column header.
class CFundListCtrl : public QTableView {
    Q_OBJECT

  public:
    explicit CFundListCtrl(QWidget* parent = nullptr);
    ~CFundListCtrl() override;

    // Rebuilds all columns: the check box column "关注", then one per group of
    // layout (GBK). 1 on success.
    int BuildColumns(const std::string& layout);
    // Deletes all rows, and with columnsToo all columns as well.
    void ClearList(bool columnsToo);

    // Set one half of the row's colours (shared by all rows with its row id).
    void SetItemBkColor(int row, const QColor& color);
    void SetItemTextColor(int row, const QColor& color);

    // Ticks or clears the row's check box as the user would: in a loaded view
    // the fund's watch flag is stored. False when the row is not in that state
    // afterwards (no such row, or the flag could not be stored).
    bool SetCheck(int row, bool checked);
    // Ticks or clears the watch flag of the fund code (GBK) for the main window's
    // watch commands: in a loaded view the flag is stored by code, then every row
    // of that fund shows it; no message. False when the flag could not be stored
    // (the rows then stay as they were). Outside a loaded view the rows only show it.
    bool SetWatchFlag(const std::string& code, bool watched);
    bool GetCheck(int row) const;
    // The row id of row (fu_list.idl, or fu_count.idc in the holdings view); 0 for no such row.
    qint64 GetItemData(int row) const;
    // The shown text of a cell as GBK; "" for no such cell.
    std::string GetItemText(int row, int column) const;
    int GetItemCount() const;

    // Loads the view kind. Takes the sort column (-1 fresh load: columns rebuilt,
    // no sort) and returns -1 no database, -2 query failed, -3 filling failed
    // (after a message box), else the index of the last row (0 when none).
    int LoadView(ViewKind kind, int sortColumn);
    // Shows the loaded view's fresh values keeping its sort, selection and scroll position:
    // in place when its rows are the same (only the changed columns redrawn, the rows sorted
    // again only when the sort column changed), else its rows loaded anew in the same sort
    // with the selected funds selected again. LoadView's results; 0 also when no view is loaded.
    int RefreshView();
    // LoadView for one view each.
    int LoadLatest(int sortColumn);
    int LoadForecast(int sortColumn);
    int LoadWatch(int sortColumn);
    int LoadHoldings(int sortColumn);

    // Selected rows in list order; the first of them, or -1 when none is selected.
    std::vector<int> GetSelectedRows() const;
    int GetFirstSelectedRow() const;

    FundListModel* ListModel() const { return m_pModel; }

    // State the owner reads and sets directly.
    std::string m_strDate;   // quote date of every view query, "yyyy-mm-dd"
    int m_bNextAsc = 1;      // 1: the next header click sorts ascending
    int m_bLoaded = 0;       // 1 after a load ran to its end
    int m_nSortColumn = -1;  // the list column the rows are sorted by; -1 the query's order
    bool m_bSortAscending = true;
    int m_nColumns = 0;                    // columns, the check box column included
    std::optional<ViewKind> m_loadedView;  // the view of the last load, which a header click sorts
    RowColorMap m_mapColors;

  protected:
    // Like the list control's click notification, a left click on the empty
    // area below the rows (which clears the selection) also emits clicked,
    // with an invalid index.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Loads kind sorted by sortColumn (-1 the query's order) as given.
    int FillView(ViewKind kind, int sortColumn, bool ascending);
    // The name column takes the width the others leave, never less than its described width.
    void FitNameColumn();
    void OnHeaderClicked(int column);
    void OnCheckChanged(int row, bool checked);
    void SetRowColor(int row, bool background, const QColor& color);

    void ShowCheck(int row, bool checked);

    FundListModel* m_pModel = nullptr;
    bool m_bPressedOnEmptyArea = false;
    int m_nNameMinWidth = 0;  // the described width of the name column
};

}  // namespace zeza
