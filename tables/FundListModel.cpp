#include "tables/FundListModel.h"

#include <utility>

#include <QColor>

#include "tables/ColumnLayout.h"

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
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FundListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant FundListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
    const FundListRow& row = m_rows[static_cast<size_t>(index.row())];
    const int col = index.column();
    switch (role) {
        case Qt::DisplayRole:
            return row.Cell(col);
        case Qt::CheckStateRole:
            if (col == 0) return row.checked ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(ToQtAlignment(m_columns[static_cast<size_t>(col)].align));
        case Qt::BackgroundRole:
        case Qt::ForegroundRole: {
            RowColors colors;
            if (m_colors) {
                auto it = m_colors->constFind(row.id);
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
    m_rows.clear();
    endResetModel();
}

void FundListModel::SetRows(std::vector<FundListRow> rows) {
    // Removing and inserting rows, rather than a reset, leaves the header alone,
    // so a sorted reload keeps the column widths.
    ClearRows();
    if (rows.empty()) return;
    beginInsertRows(QModelIndex(), 0, static_cast<int>(rows.size()) - 1);
    m_rows = std::move(rows);
    endInsertRows();
}

void FundListModel::ClearRows() {
    if (m_rows.empty()) return;
    beginRemoveRows(QModelIndex(), 0, static_cast<int>(m_rows.size()) - 1);
    m_rows.clear();
    endRemoveRows();
}

qint64 FundListModel::RowId(int row) const {
    return IsValidRow(row) ? m_rows[static_cast<size_t>(row)].id : 0;
}

bool FundListModel::IsChecked(int row) const {
    return IsValidRow(row) && m_rows[static_cast<size_t>(row)].checked;
}

QString FundListModel::Text(int row, int column) const {
    return IsValidRow(row) ? m_rows[static_cast<size_t>(row)].Cell(column) : QString();
}

bool FundListModel::SetCheckedQuietly(int row, bool checked) {
    if (!IsValidRow(row) || m_rows[static_cast<size_t>(row)].checked == checked) return false;
    m_rows[static_cast<size_t>(row)].checked = checked;
    const QModelIndex i = index(row, 0);
    emit dataChanged(i, i, {Qt::CheckStateRole});
    return true;
}

void FundListModel::RowColorsChanged(qint64 id) {
    if (m_columns.empty()) return;
    const int last = static_cast<int>(m_columns.size()) - 1;
    for (int r = 0; r < static_cast<int>(m_rows.size()); ++r) {
        if (m_rows[static_cast<size_t>(r)].id == id) {
            emit dataChanged(index(r, 0), index(r, last), {Qt::BackgroundRole, Qt::ForegroundRole});
        }
    }
}

}  // namespace zeza
