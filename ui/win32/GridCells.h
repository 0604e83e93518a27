#pragma once
// The texts of the grid Arch by (column, row), kept apart from its row
// count: a text written at or beyond the row count stays stored and shows
// once the grid has grown to it; lowering the row count only hides rows.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class TGridCells {
public:
    static constexpr int32_t Columns = 2;

    const std::string& Cell(int32_t Col, int32_t Row) const;
    // False when nothing changed.
    bool SetCell(int32_t Col, int32_t Row, const std::string& Text);
    int32_t RowCount() const { return FRows; }
    // At least one row, the header.
    void SetRowCount(int32_t Rows) { FRows = Rows < 1 ? 1 : Rows; }

private:
    std::array<std::vector<std::string>, Columns> FCells;
    int32_t FRows = 2;
};
