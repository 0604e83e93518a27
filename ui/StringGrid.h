#pragma once
// The grid Arch: cell texts by (column, row), kept apart from the row count.
// A text written at or beyond the row count stays stored and shows once the
// grid has grown to it; lowering the row count only hides rows. Row 0 is the
// fixed header row, shown by the view's header.
//
// A download adds one row per record, up to 65535 of them, several hundred a
// second. Each row the view is told of costs it a layout pass, so new rows
// reach the view in batches, at most every ShowRowsEvery; the grid's own row
// count and texts are always current. Fewer rows are shown at once.

#include <QAbstractTableModel>
#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

class TStringGridModel : public QAbstractTableModel {
public:
    static constexpr int32_t Columns = 2;
    static constexpr std::chrono::milliseconds ShowRowsEvery{50};

    TStringGridModel();

    QString Cell(int32_t Col, int32_t Row) const;
    void SetCell(int32_t Col, int32_t Row, const QString& Text);
    int32_t GridRowCount() const { return FRows; }
    // At least one row, the header.
    void SetGridRowCount(int32_t Rows);
    // Tells the view of the rows added since it last heard, now.
    void ShowRowsNow();
    int32_t ShownRowCount() const { return FShownRows; }

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
    Qt::ItemFlags flags(const QModelIndex& Index) const override;

private:
    std::array<std::vector<QString>, Columns> FCells;
    int32_t FRows = 2;
    int32_t FShownRows = 2; // the row count the view knows of
    QTimer FShowRows;
};
