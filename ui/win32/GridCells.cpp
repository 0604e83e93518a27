#include "ui/win32/GridCells.h"

namespace {

const std::string Empty;

} // namespace

const std::string& TGridCells::Cell(int32_t Col, int32_t Row) const
{
    if (Col < 0 || Col >= Columns || Row < 0) return Empty;
    const auto& column = FCells[static_cast<size_t>(Col)];
    return static_cast<size_t>(Row) < column.size() ? column[static_cast<size_t>(Row)] : Empty;
}

bool TGridCells::SetCell(int32_t Col, int32_t Row, const std::string& Text)
{
    if (Col < 0 || Col >= Columns || Row < 0) return false;
    auto& column = FCells[static_cast<size_t>(Col)];
    if (static_cast<size_t>(Row) >= column.size()) {
        if (Text.empty()) return false; // an empty cell needs no storage
        column.resize(static_cast<size_t>(Row) + 1);
    }
    if (column[static_cast<size_t>(Row)] == Text) return false;
    column[static_cast<size_t>(Row)] = Text;
    return true;
}
