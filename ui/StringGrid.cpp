#include "ui/StringGrid.h"

#include <algorithm>

TStringGridModel::TStringGridModel()
{
    FShowRows.setSingleShot(true);
    FShowRows.setInterval(ShowRowsEvery);
    connect(&FShowRows, &QTimer::timeout, this, &TStringGridModel::ShowRowsNow);
}

QString TStringGridModel::Cell(int32_t Col, int32_t Row) const
{
    if (Col < 0 || Col >= Columns || Row < 0) return {};
    const auto& column = FCells[static_cast<size_t>(Col)];
    return static_cast<size_t>(Row) < column.size() ? column[static_cast<size_t>(Row)] : QString();
}

void TStringGridModel::SetCell(int32_t Col, int32_t Row, const QString& Text)
{
    if (Col < 0 || Col >= Columns || Row < 0) return;
    auto& column = FCells[static_cast<size_t>(Col)];
    if (static_cast<size_t>(Row) >= column.size()) {
        if (Text.isEmpty()) return; // an empty cell needs no storage
        column.resize(static_cast<size_t>(Row) + 1);
    }
    if (column[static_cast<size_t>(Row)] == Text) return;
    column[static_cast<size_t>(Row)] = Text;
    if (Row == 0) {
        emit headerDataChanged(Qt::Horizontal, Col, Col);
    } else if (Row < FShownRows) {
        const QModelIndex at = index(Row - 1, Col);
        emit dataChanged(at, at, {Qt::DisplayRole});
    }
}

void TStringGridModel::SetGridRowCount(int32_t Rows)
{
    FRows = std::max(Rows, 1);
    if (FRows < FShownRows)
        ShowRowsNow();
    else if (FRows > FShownRows && !FShowRows.isActive())
        FShowRows.start();
}

void TStringGridModel::ShowRowsNow()
{
    FShowRows.stop();
    if (FRows > FShownRows) {
        beginInsertRows(QModelIndex(), FShownRows - 1, FRows - 2);
        FShownRows = FRows;
        endInsertRows();
    } else if (FRows < FShownRows) {
        beginRemoveRows(QModelIndex(), FRows - 1, FShownRows - 2);
        FShownRows = FRows;
        endRemoveRows();
    }
}

int TStringGridModel::rowCount(const QModelIndex& Parent) const
{
    return Parent.isValid() ? 0 : FShownRows - 1;
}

int TStringGridModel::columnCount(const QModelIndex& Parent) const
{
    return Parent.isValid() ? 0 : Columns;
}

QVariant TStringGridModel::data(const QModelIndex& Index, int Role) const
{
    if (Role != Qt::DisplayRole || !Index.isValid()) return {};
    return Cell(Index.column(), Index.row() + 1);
}

QVariant TStringGridModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    if (Role != Qt::DisplayRole) return {};
    if (Orientation == Qt::Horizontal) return Cell(Section, 0);
    return {};
}

Qt::ItemFlags TStringGridModel::flags(const QModelIndex& Index) const
{
    return Index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
