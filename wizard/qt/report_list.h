// The report list: rows of cells under column headers, grid lines, full-row selection of one or
// more rows, no images and no sorting (rows stay where they were inserted). The printer name
// in the first column can be edited in place (F2, or a click on a selected row) as the list
// allows, but no edit is ever accepted: the name always reverts.
#pragma once

#include <QString>
#include <QTableWidget>

#include <vector>

namespace wizard::qtview {

class ReportList : public QTableWidget {
  public:
    explicit ReportList(QWidget* parent = nullptr);

    // These columns, each columnWidth pixels wide and left-aligned, and no rows.
    void SetUp(const std::vector<QString>& headers, int columnWidth);
    void DeleteAll();
    // A row at `row` (clamped to the rows there are) with `first` in its first column and the
    // other cells empty.
    void InsertRow(int row, const QString& first);
    void SetCell(int row, int column, const QString& text);
    QString Cell(int row, int column) const;
    // The selected row of the lowest index, or -1.
    int FirstSelected() const;
    // The row above `row` by the list's navigation: -1 for the first row and for a row that
    // does not exist.
    int RowAbove(int row) const;
};

}  // namespace wizard::qtview
