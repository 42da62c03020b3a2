#include "tables/CFundListCtrl.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include <QDate>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPalette>
#include <QScrollBar>

#include "db/CFundDb.h"
#include "platform/GbkQString.h"
#include "platform/MessageBox.h"
#include "tables/ColumnLayout.h"
#include "tables/RowColors.h"
#include "tables/ViewLoader.h"

namespace zeza {

namespace {

QString YesterdayText() {
    const QDate d = QDate::currentDate().addDays(-1);
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%02d-%02d-%02d", d.year(), d.month(), d.day());
    return QString::fromLatin1(buf);
}

}  // namespace

CFundListCtrl::CFundListCtrl(QWidget* parent) : QTableView(parent), m_strDate(YesterdayText().toStdString()) {
    m_pModel = new FundListModel(&m_mapColors, this);
    setModel(m_pModel);

    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setShowGrid(true);
    setStyleSheet(QStringLiteral("QTableView { gridline-color: rgb(159,215,255); }"));

    QPalette pal = palette();
    pal.setColor(QPalette::Base, QColor(kListBackground));
    // The selection stays as visible when another control has the focus.
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    }
    setPalette(pal);

    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    connect(header, &QHeaderView::sectionClicked, this, &CFundListCtrl::OnHeaderClicked);

    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(fontMetrics().height() + 6);

    connect(m_pModel, &FundListModel::CheckChanged, this, &CFundListCtrl::OnCheckChanged);
}

CFundListCtrl::~CFundListCtrl() = default;

int CFundListCtrl::BuildColumns(const std::string& layout) {
    ClearList(true);
    const std::vector<ColumnLayout> parsed = ParseColumnLayout(layout);
    std::vector<FundListColumn> columns;
    std::vector<int> widths;
    columns.reserve(parsed.size() + 1);
    columns.push_back({QStringLiteral("关注"), kAlignLeft});
    widths.push_back(50);
    for (const ColumnLayout& c : parsed) {
        columns.push_back({GbkToQString(c.caption), c.align});
        widths.push_back(std::max(0, c.width));
    }
    m_pModel->SetColumns(std::move(columns));
    for (size_t i = 0; i < widths.size(); ++i)
        horizontalHeader()->resizeSection(static_cast<int>(i), widths[i]);
    m_nColumns = static_cast<int>(widths.size());
    m_nNameMinWidth = m_nColumns > kNameColumn ? widths[kNameColumn] : 0;
    FitNameColumn();
    m_bNextAsc = 1;
    return 1;
}

void CFundListCtrl::FitNameColumn() {
    if (m_nColumns <= kNameColumn) return;
    QHeaderView* header = horizontalHeader();
    int others = 0;
    for (int c = 0; c < m_nColumns; ++c)
        if (c != kNameColumn) others += header->sectionSize(c);
    header->resizeSection(kNameColumn, std::max(m_nNameMinWidth, viewport()->width() - others));
}

void CFundListCtrl::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    FitNameColumn();
}

void CFundListCtrl::ClearList(bool columnsToo) {
    if (columnsToo) {
        m_pModel->SetColumns({});
        m_nColumns = 0;
    } else {
        m_pModel->ClearRows();
    }
}

void CFundListCtrl::SetRowColor(int row, bool background, const QColor& color) {
    if (row < 0 || row >= GetItemCount()) return;
    const qint64 id = m_pModel->RowId(row);
    RowColors& entry = m_mapColors[id];
    (background ? entry.background : entry.text) = color.rgb() & 0xFFFFFFu;
    m_pModel->RowColorsChanged(id);
}

void CFundListCtrl::SetItemBkColor(int row, const QColor& color) {
    SetRowColor(row, true, color);
}

void CFundListCtrl::SetItemTextColor(int row, const QColor& color) {
    SetRowColor(row, false, color);
}

bool CFundListCtrl::SetCheck(int row, bool checked) {
    if (row < 0 || row >= GetItemCount()) return false;
    m_pModel->setData(m_pModel->index(row, kCheckColumn), checked ? Qt::Checked : Qt::Unchecked,
                      Qt::CheckStateRole);
    return GetCheck(row) == checked;
}

void CFundListCtrl::ShowCheck(int row, bool checked) {
    m_pModel->SetCheckedQuietly(row, checked);
    SetItemBkColor(row, QColor(checked ? kWatchedBackground : kListBackground));
}

bool CFundListCtrl::SetWatchFlag(const std::string& code, bool watched) {
    if (m_bLoaded == 1 && CFundDb::SetWatchFlag(code, watched) != 0) return false;
    for (int row = 0; row < GetItemCount(); ++row)
        if (GetItemText(row, kCodeColumn) == code) ShowCheck(row, watched);
    return true;
}

bool CFundListCtrl::GetCheck(int row) const {
    return m_pModel->IsChecked(row);
}

qint64 CFundListCtrl::GetItemData(int row) const {
    return m_pModel->RowId(row);
}

std::string CFundListCtrl::GetItemText(int row, int column) const {
    return QStringToGbk(m_pModel->Text(row, column));
}

int CFundListCtrl::GetItemCount() const {
    return m_pModel->rowCount();
}

int CFundListCtrl::LoadLatest(int sortColumn) {
    return LoadView(ViewKind::Latest, sortColumn);
}

int CFundListCtrl::LoadForecast(int sortColumn) {
    return LoadView(ViewKind::Forecast, sortColumn);
}

int CFundListCtrl::LoadWatch(int sortColumn) {
    return LoadView(ViewKind::Watch, sortColumn);
}

int CFundListCtrl::LoadHoldings(int sortColumn) {
    return LoadView(ViewKind::Holdings, sortColumn);
}

int CFundListCtrl::LoadView(ViewKind kind, int sortColumn) {
    const ViewDefinition& view = GetViewDefinition(kind);
    // The watch list has no watch flag to sort by: such a click changes nothing.
    if (sortColumn >= 0 && view.IgnoresSortColumn(sortColumn)) return 0;

    bool ascending = true;
    if (sortColumn < 0) {
        m_bNextAsc = 1;
        BuildColumns(view.columnSpec);
    } else if (m_bNextAsc) {
        m_bNextAsc = 0;
    } else {
        m_bNextAsc = 1;
        ascending = false;
    }
    return FillView(kind, sortColumn, ascending);
}

int CFundListCtrl::RefreshView() {
    if (m_bLoaded != 1 || !m_loadedView) return 0;
    const ViewDefinition& view = GetViewDefinition(*m_loadedView);
    std::shared_ptr<const ViewTable> table;
    const int result = LoadViewTable(view, m_strDate, table);
    const ViewTable* shown = m_pModel->Table();
    if (result >= 0 && shown && table && SameViewRows(*shown, *table)) {
        if (table.get() == shown) return GetItemCount() > 0 ? GetItemCount() - 1 : 0;
        std::vector<int> columns;
        std::vector<int> colorRows;
        DiffViewTables(*shown, *table, columns, colorRows);
        m_pModel->UpdateValues(table, columns);
        if (!colorRows.empty()) {
            // The rows' colours are shared by row id; a row that now rises turns red.
            std::vector<int> shownRow(m_pModel->Order().size());
            for (size_t r = 0; r < shownRow.size(); ++r)
                shownRow[static_cast<size_t>(m_pModel->Order()[r])] = static_cast<int>(r);
            int first = GetItemCount(), last = -1;
            for (int r : colorRows) {
                RowColors& entry = m_mapColors[table->ids[static_cast<size_t>(r)]];
                entry.text = table->HasTextColor(r) ? table->TextColor(r) : kDefaultRowText;
                first = std::min(first, shownRow[static_cast<size_t>(r)]);
                last = std::max(last, shownRow[static_cast<size_t>(r)]);
            }
            m_pModel->RowsRecoloured(first, last);
        }
        if (m_nSortColumn >= 0 && std::binary_search(columns.begin(), columns.end(), m_nSortColumn)) {
            std::vector<int> order;
            if (SortViewRows(*table, m_nSortColumn, m_bSortAscending, order))
                m_pModel->Reorder(std::move(order));
        }
        return GetItemCount() > 0 ? GetItemCount() - 1 : 0;
    }

    // Other rows: loaded anew in the same sort, the selected funds selected again.
    std::vector<qint64> selected;
    for (int row : GetSelectedRows()) selected.push_back(GetItemData(row));
    const qint64 current = currentIndex().isValid() ? GetItemData(currentIndex().row()) : 0;
    const int scroll = verticalScrollBar()->value();
    const int hscroll = horizontalScrollBar()->value();
    const int loaded = FillView(*m_loadedView, m_nSortColumn, m_bSortAscending);
    std::sort(selected.begin(), selected.end());
    QItemSelection selection;
    for (int row = 0; row < GetItemCount(); ++row) {
        const qint64 id = GetItemData(row);
        if (std::binary_search(selected.begin(), selected.end(), id))
            selection.select(m_pModel->index(row, 0), m_pModel->index(row, m_nColumns - 1));
        if (id == current && current != 0)
            selectionModel()->setCurrentIndex(m_pModel->index(row, 0), QItemSelectionModel::NoUpdate);
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    verticalScrollBar()->setValue(scroll);
    horizontalScrollBar()->setValue(hscroll);
    return loaded;
}

int CFundListCtrl::FillView(ViewKind kind, int sortColumn, bool ascending) {
    const ViewDefinition& view = GetViewDefinition(kind);
    m_bLoaded = 0;
    m_loadedView = kind;
    m_nSortColumn = sortColumn;
    m_bSortAscending = ascending;
    m_mapColors.clear();
    ClearList(false);

    // The rows come from the database only when it changed since they were
    // read; a header click sorts them here, as the database would.
    std::shared_ptr<const ViewTable> table;
    int result = LoadViewTable(view, m_strDate, table);
    std::vector<int> order;
    if (sortColumn >= 0 && result >= 0) {
        if (!SortViewRows(*table, sortColumn, ascending, order)) {
            result = -2;  // the query has no such column to order by
            table.reset();
        } else if (!order.empty()) {
            result = static_cast<int>(order.size()) - 1;
        }
    } else if (table) {
        order.resize(static_cast<size_t>(table->RowCount()));
        for (size_t r = 0; r < order.size(); ++r) order[r] = static_cast<int>(r);
    }

    if (table) {
        // As the rows are filled one by one: a later row with the same id sets
        // the shared entry again, and a ticked row turns it light yellow.
        m_mapColors.reserve(static_cast<qsizetype>(order.size()));
        for (int r : order) {
            const bool colored = table->HasTextColor(r);
            const bool checked = table->Checked(r);
            if (!colored && !checked) continue;
            RowColors& entry = m_mapColors[table->ids[static_cast<size_t>(r)]];
            if (colored) entry.text = table->TextColor(r);
            if (checked) entry.background = kWatchedBackground;
        }
        m_pModel->SetView(table, std::move(order));
    }

    if (result == -3) {
        MessageBox::Show(this, GbkToQString(table->error), QStringLiteral("Zeza"), MessageBox::Buttons::Ok,
                         MessageBox::Icon::None);
        return -3;
    }
    if (result < 0) return result;
    m_bLoaded = 1;
    return result;
}

void CFundListCtrl::OnHeaderClicked(int column) {
    if (m_bLoaded != 1 || !m_loadedView) return;
    LoadView(*m_loadedView, column);
}

void CFundListCtrl::OnCheckChanged(int row, bool checked) {
    const QColor watched(kWatchedBackground);
    const QColor plain(kListBackground);
    SetItemBkColor(row, checked ? watched : plain);
    // Ticks made while a view is being filled only show the stored flag.
    if (m_bLoaded != 1) return;

    if (CFundDb::SetWatchFlag(GetItemText(row, kCodeColumn), checked) == 0) return;

    // The flag was not stored: the box must not claim otherwise.
    ShowCheck(row, !checked);
    // Told once the model's signal has returned: while the box is open a refresh
    // pass may reload the view, and the click that is still being handled would
    // then go on with an index into rows that are gone.
    QMetaObject::invokeMethod(
        this,
        [this] {
            MessageBox::Show(this, QStringLiteral("关注状态未能保存，请稍后再试。"), QStringLiteral("提示"),
                             MessageBox::Buttons::Ok, MessageBox::Icon::Information);
        },
        Qt::QueuedConnection);
}

void CFundListCtrl::mousePressEvent(QMouseEvent* event) {
    m_bPressedOnEmptyArea =
        event->button() == Qt::LeftButton && !indexAt(event->position().toPoint()).isValid();
    QTableView::mousePressEvent(event);
}

void CFundListCtrl::mouseReleaseEvent(QMouseEvent* event) {
    const bool emptyAreaClick = m_bPressedOnEmptyArea && event->button() == Qt::LeftButton &&
                                !indexAt(event->position().toPoint()).isValid() &&
                                viewport()->rect().contains(event->position().toPoint());
    m_bPressedOnEmptyArea = false;
    QTableView::mouseReleaseEvent(event);
    if (emptyAreaClick) emit clicked(QModelIndex());
}

std::vector<int> CFundListCtrl::GetSelectedRows() const {
    std::vector<int> rows;
    if (!selectionModel()) return rows;
    for (const QModelIndex& i : selectionModel()->selectedRows()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int CFundListCtrl::GetFirstSelectedRow() const {
    const std::vector<int> rows = GetSelectedRows();
    return rows.empty() ? -1 : rows.front();
}

}  // namespace zeza
