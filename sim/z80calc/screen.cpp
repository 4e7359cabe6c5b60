#include "screen.h"

#include <tilp2/ticonv.h>

#include <ctime>

namespace z80calc {
namespace {

void AppendUtf8(std::string& out, unsigned long cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string FontCodeToUtf8(std::uint8_t code)
{
    unsigned long cp = ti83p_charset[code];
    // Glyphs the table gives as control characters (the Enter arrow, the
    // blank of code 0) show as a stand-in, so a frame keeps its shape.
    if (cp < 0x20 || cp > 0xFFFF) cp = 0xFFFD;
    std::string out;
    AppendUtf8(out, cp);
    return out;
}

void HomeScreen::Changed()
{
    ++changes_;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    last_change_time_ = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

HomeScreen::HomeScreen(Machine& machine) : machine_(machine) { Clear(); }

void HomeScreen::Clear()
{
    for (auto& row : cells_) row.fill(kBlank);
    Changed();
}

void HomeScreen::HomeUp() { SetCursor(0, 0); }

void HomeScreen::SetCursor(int row, int col)
{
    machine_.Poke(kCurRow, static_cast<std::uint8_t>(row));
    machine_.Poke(kCurCol, static_cast<std::uint8_t>(col));
}

void HomeScreen::CheckCursor(const char* routine) const
{
    if (CursorRow() >= kRows || CursorCol() >= kColumns)
        throw Fault(std::string(routine) + " with the cursor off the screen (curRow " + std::to_string(CursorRow()) +
                    ", curCol " + std::to_string(CursorCol()) + ")");
}

void HomeScreen::PutMap(std::uint8_t code)
{
    CheckCursor("_PutMap");
    cells_[CursorRow()][CursorCol()] = code;
    Changed();
}

void HomeScreen::PutC(std::uint8_t code)
{
    CheckCursor("_PutC");
    cells_[CursorRow()][CursorCol()] = code;
    Changed();
    if (CursorCol() + 1 < kColumns) return SetCursor(CursorRow(), CursorCol() + 1);
    NewLine();
}

void HomeScreen::NewLine()
{
    if (CursorRow() + 1 < kRows) return SetCursor(CursorRow() + 1, 0);
    ScrollUp();
    SetCursor(kRows - 1, 0);
}

void HomeScreen::ScrollUp()
{
    for (int row = 0; row + 1 < kRows; ++row) cells_[row] = cells_[row + 1];
    cells_[kRows - 1].fill(kBlank);
    Changed();
}

std::string HomeScreen::Row(int row) const
{
    std::string text;
    for (const std::uint8_t code : cells_[row]) text += FontCodeToUtf8(code);
    return text;
}

std::string HomeScreen::Text() const
{
    std::string text;
    for (int row = 0; row < kRows; ++row) text += Row(row);
    return text;
}

std::string HomeScreen::Frame() const
{
    std::string rule;
    for (int col = 0; col < kColumns; ++col) rule += "─";
    std::string frame = "┌" + rule + "┐\n";
    for (int row = 0; row < kRows; ++row) frame += "│" + Row(row) + "│\n";
    return frame + "└" + rule + "┘\n";
}

}  // namespace z80calc
