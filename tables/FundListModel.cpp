#include "tables/FundListModel.h"

#include <utility>

#include <QColor>

#include "platform/GbkQString.h"
#include "tables/ColumnLayout.h"
#include "tables/ViewDefinition.h"

namespace zeza {

namespace {

Qt::Alignment ToQtAlignment(int align) {
    switch (align) {
        case kAlignRight:
            return Qt::AlignRight | Qt::AlignVCenter;
        case kAlignCenter:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        default:
            return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

}  // namespace

FundListModel::FundListModel(const RowColorMap* colors, QObject* parent)
    : QAbstractTableModel(parent), m_colors(colors) {}

int FundListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RowTotal();
}

int FundListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant FundListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
    const int col = index.column();
    switch (role) {
        case Qt::DisplayRole:
            return Text(index.row(), col);
        case Qt::ToolTipRole:
            // A long name is cut to the column: its tooltip shows it whole.
            if (col == kNameColumn) return Text(index.row(), col);
            return {};
        case Qt::CheckStateRole:
            if (col == 0) return IsChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(ToQtAlignment(m_columns[static_cast<size_t>(col)].align));
        case Qt::BackgroundRole:
        case Qt::ForegroundRole: {
            RowColors colors;
            if (m_colors) {
                auto it = m_colors->constFind(RowId(index.row()));
                if (it != m_colors->constEnd()) colors = *it;
            }
            return QColor(role == Qt::BackgroundRole ? colors.background : colors.text);
        }
        default:
            return {};
    }
}

QVariant FundListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(m_columns.size())) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    if (role == Qt::DisplayRole) return m_columns[static_cast<size_t>(section)].caption;
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(ToQtAlignment(m_columns[static_cast<size_t>(section)].align));
    }
    return {};
}

Qt::ItemFlags FundListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
}

bool FundListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != 0 ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return false;
    }
    const bool checked = value.toInt() == Qt::Checked;
    if (!SetCheckedQuietly(index.row(), checked)) return true;
    emit CheckChanged(index.row(), checked);
    return true;
}

void FundListModel::SetColumns(std::vector<FundListColumn> columns) {
    beginResetModel();
    m_columns = std::move(columns);
    RemoveAllRows();
    endResetModel();
}

void FundListModel::RemoveAllRows() {
    m_table.reset();
    m_order.clear();
    m_checked.clear();
}

void FundListModel::SetView(std::shared_ptr<const ViewTable> table, std::vector<int> order) {
    // Removing and inserting rows, rather than a reset, leaves the header alone,
    // so a sorted reload keeps the column widths.
    ClearRows();
    if (!table || order.empty()) return;
    beginInsertRows(QModelIndex(), 0, static_cast<int>(order.size()) - 1);
    m_checked.resize(order.size());
    for (size_t r = 0; r < order.size(); ++r) m_checked[r] = table->Checked(order[r]);
    m_table = std::move(table);
    m_order = std::move(order);
    endInsertRows();
}

void FundListModel::ClearRows() {
    if (RowTotal() == 0) {
        RemoveAllRows();
        return;
    }
    beginRemoveRows(QModelIndex(), 0, RowTotal() - 1);
    RemoveAllRows();
    endRemoveRows();
}

void FundListModel::UpdateValues(std::shared_ptr<const ViewTable> table, const std::vector<int>& columns) {
    if (!table || !m_table || !SameViewRows(*table, *m_table)) return;
    m_table = std::move(table);
    const int last = RowTotal() - 1;
    if (last < 0) return;
    for (int c : columns) {
        if (c <= 0 || c >= static_cast<int>(m_columns.size())) continue;
        QList<int> roles{Qt::DisplayRole};
        if (c == kNameColumn) roles.append(Qt::ToolTipRole);
        emit dataChanged(index(0, c), index(last, c), roles);
    }
}

void FundListModel::Reorder(std::vector<int> order) {
    if (order.size() != m_order.size()) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Where each table row is shown now, so the persistent indices (the selection,
    // the current row) follow their rows.
    std::vector<int> newRowOf(order.size());
    for (size_t r = 0; r < order.size(); ++r) newRowOf[static_cast<size_t>(order[r])] = static_cast<int>(r);
    std::vector<char> checked(order.size());
    for (size_t r = 0; r < m_order.size(); ++r)
        checked[static_cast<size_t>(newRowOf[static_cast<size_t>(m_order[r])])] = m_checked[r];
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& i : before)
        after.append(index(newRowOf[static_cast<size_t>(m_order[static_cast<size_t>(i.row())])], i.column()));
    m_order = std::move(order);
    m_checked = std::move(checked);
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FundListModel::RowsRecoloured(int first, int last) {
    if (m_columns.empty() || !IsValidRow(first) || !IsValidRow(last) || first > last) return;
    emit dataChanged(index(first, 0), index(last, static_cast<int>(m_columns.size()) - 1),
                     {Qt::ForegroundRole});
}

qint64 FundListModel::RowId(int row) const {
    if (!IsValidRow(row)) return 0;
    return m_table->ids[static_cast<size_t>(m_order[static_cast<size_t>(row)])];
}

bool FundListModel::IsChecked(int row) const {
    if (!IsValidRow(row)) return false;
    return m_checked[static_cast<size_t>(row)];
}

QString FundListModel::Text(int row, int column) const {
    if (!IsValidRow(row)) return QString();
    // The number beside the check box follows the shown order.
    if (column == 0) return QString::number(row + 1);
    return GbkToQString(m_table->CellText(m_order[static_cast<size_t>(row)], column));
}

bool FundListModel::SetCheckedQuietly(int row, bool checked) {
    if (!IsValidRow(row) || IsChecked(row) == checked) return false;
    m_checked[static_cast<size_t>(row)] = checked;
    const QModelIndex i = index(row, 0);
    emit dataChanged(i, i, {Qt::CheckStateRole});
    return true;
}

void FundListModel::RowColorsChanged(qint64 id) {
    if (m_columns.empty()) return;
    const int last = static_cast<int>(m_columns.size()) - 1;
    for (int r = 0; r < RowTotal(); ++r) {
        if (RowId(r) == id) {
            emit dataChanged(index(r, 0), index(r, last), {Qt::BackgroundRole, Qt::ForegroundRole});
        }
    }
}

}  // namespace zeza
