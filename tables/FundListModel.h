#pragma once

#include <memory>
#include <vector>

#include <QAbstractTableModel>
#include <QHash>
#include <QString>

#include "tables/RowColors.h"
#include "tables/ViewLoader.h"

namespace zeza {

// Row id (item data) to the row's colours; rows that share an id share the entry.
using RowColorMap = QHash<qint64, RowColors>;

// A column of the fund list: its title and alignment code (0 left, 1 right, 2 centred).
struct FundListColumn {
    QString caption;
    int align = 0;
};

// The rows and columns behind CFundListCtrl. Column 0 carries the check box;
// colours come from a map kept by the owner, looked up by row id. A loaded
// view keeps its values as numbers and formats only the cells being drawn.
class FundListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit FundListModel(const RowColorMap* colors, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A check state set here is a change by the user: CheckChanged follows.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Replaces the columns; the rows go with them.
    void SetColumns(std::vector<FundListColumn> columns);
    // Replaces the rows by those of table in order (row indices of table), keeping
    // the columns (and so the widths the user gave them).
    void SetView(std::shared_ptr<const ViewTable> table, std::vector<int> order);
    void ClearRows();
    // Takes table, which holds the rows shown (SameViewRows), as their new values, keeping
    // the shown order, check boxes and selection; the list columns given are redrawn.
    void UpdateValues(std::shared_ptr<const ViewTable> table, const std::vector<int>& columns);
    // Shows the rows in order (row indices of the table shown, each once); selected rows
    // stay selected and the current row stays current.
    void Reorder(std::vector<int> order);
    // The rows of the table from first to last shown row (inclusive) have new text colours.
    void RowsRecoloured(int first, int last);
    const ViewTable* Table() const { return m_table.get(); }
    const std::vector<int>& Order() const { return m_order; }

    qint64 RowId(int row) const;
    bool IsChecked(int row) const;
    QString Text(int row, int column) const;
    // Sets a check box without announcing it as the user's change; true when it changed.
    bool SetCheckedQuietly(int row, bool checked);
    // The colour entry of id changed: every row with that id is redrawn.
    void RowColorsChanged(qint64 id);

  signals:
    // The check box of row changed through setData (the user, or the owner on the user's behalf).
    void CheckChanged(int row, bool checked);

  private:
    int RowTotal() const { return static_cast<int>(m_table ? m_order.size() : 0); }
    bool IsValidRow(int row) const { return row >= 0 && row < RowTotal(); }
    void RemoveAllRows();

    const RowColorMap* m_colors;
    std::vector<FundListColumn> m_columns;
    // A loaded view: its table, the shown order and the shown check boxes.
    std::shared_ptr<const ViewTable> m_table;
    std::vector<int> m_order;
    std::vector<char> m_checked;
};

}  // namespace zeza
