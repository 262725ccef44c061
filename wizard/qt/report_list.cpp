#include "wizard/qt/report_list.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStyledItemDelegate>

#include <algorithm>

namespace wizard::qtview {

namespace {

// The in-place editor opens, but what it holds is never written back.
class RevertingDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}
};

constexpr int kNameColumn = 0;
constexpr int kRowPadding = 4;  // pixels above and below a row's text

}  // namespace

ReportList::ReportList(QWidget* parent) : QTableWidget(parent) {
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setItemDelegateForColumn(kNameColumn, new RevertingDelegate(this));
    setWordWrap(false);
    // Tab leaves the list for the next control, as in a Windows dialog; the arrow keys move
    // between the rows.
    setTabKeyNavigation(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + kRowPadding);
    QHeaderView* header = horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setStretchLastSection(false);
    header->setSortIndicatorShown(false);
    // A click on a header would select the column: the headers are labels only.
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
}

void ReportList::SetUp(const std::vector<QString>& headers, int columnWidth) {
    setRowCount(0);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + kRowPadding);
    setColumnCount(static_cast<int>(headers.size()));
    for (int column = 0; column < columnCount(); ++column) {
        auto* item = new QTableWidgetItem(headers[static_cast<size_t>(column)]);
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setHorizontalHeaderItem(column, item);
        horizontalHeader()->setSectionResizeMode(column, QHeaderView::Interactive);
        setColumnWidth(column, columnWidth);
    }
}

void ReportList::DeleteAll() {
    setRowCount(0);
}

void ReportList::InsertRow(int row, const QString& first) {
    row = std::clamp(row, 0, rowCount());
    insertRow(row);
    for (int column = 0; column < columnCount(); ++column) {
        auto* item = new QTableWidgetItem(column == kNameColumn ? first : QString());
        Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
        if (column == kNameColumn) {
            flags |= Qt::ItemIsEditable;
        }
        item->setFlags(flags);
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setItem(row, column, item);
    }
}

void ReportList::SetCell(int row, int column, const QString& text) {
    if (QTableWidgetItem* cell = item(row, column)) {
        cell->setText(text);
    }
}

QString ReportList::Cell(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell != nullptr ? cell->text() : QString();
}

int ReportList::FirstSelected() const {
    int first = -1;
    for (const QModelIndex& index : selectionModel()->selectedIndexes()) {
        if (first < 0 || index.row() < first) {
            first = index.row();
        }
    }
    return first;
}

int ReportList::RowAbove(int row) const {
    return row >= 1 && row < rowCount() ? row - 1 : -1;
}

}  // namespace wizard::qtview
