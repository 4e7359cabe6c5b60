// The home screen: 16 columns by 8 rows of the large font, with the cursor
// where the OS keeps it (curRow, curCol in RAM), and its picture as text.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "machine.h"

namespace z80calc {

constexpr int kColumns = 16;
constexpr int kRows = 8;
constexpr std::uint16_t kCurRow = 0x844B;
constexpr std::uint16_t kCurCol = 0x844C;
constexpr std::uint8_t kBlank = 0x20;

// A large-font code as UTF-8 (libticonv's table of the font).
std::string FontCodeToUtf8(std::uint8_t code);

class HomeScreen {
public:
    explicit HomeScreen(Machine& machine);

    void Clear();
    void HomeUp();
    // At the cursor; PutC advances it, wrapping to the next row and
    // scrolling at the bottom as the OS does; PutMap leaves it.
    void PutC(std::uint8_t code);
    void PutMap(std::uint8_t code);
    void NewLine();

    // Rows as text, and all of them run together (a wrapped word reads whole).
    std::string Row(int row) const;
    std::string Text() const;
    // A framed picture of the screen, for people and tests.
    std::string Frame() const;
    // Counts the changes; when the last one was made (Unix time).
    unsigned long Changes() const { return changes_; }
    double LastChangeTime() const { return last_change_time_; }

private:
    std::uint8_t CursorRow() const { return machine_.Peek(kCurRow); }
    std::uint8_t CursorCol() const { return machine_.Peek(kCurCol); }
    void SetCursor(int row, int col);
    void CheckCursor(const char* routine) const;
    void ScrollUp();
    void Changed();

    Machine& machine_;
    std::array<std::array<std::uint8_t, kColumns>, kRows> cells_{};
    unsigned long changes_ = 0;
    double last_change_time_ = 0;
};

}  // namespace z80calc
