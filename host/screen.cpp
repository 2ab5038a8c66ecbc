#include "host/screen.h"

namespace host {
namespace {

constexpr char kPlacementMark = 0x01;

bool IsControl(char c) { return c >= 0x01 && c <= 0x05; }

// The text after a leading placement mark, if there is one.
std::string_view Body(std::string_view text)
{
    if (text.size() >= 2 && text[0] == kPlacementMark && (text[1] == 'c' || text[1] == 'p'))
        return text.substr(2);
    return text;
}

Attr AttrOf(char control, Attr base)
{
    switch (control) {
    case 0x02: return Attr::Highlight;
    case 0x03: return Attr::Third;
    case 0x04: return Attr::Fourth;
    case 0x05: return Attr::KeyName;
    default: return base;
    }
}

} // namespace

void Screen::Clear()
{
    for (auto &row : cells_)
        for (Cell &cell : row)
            cell = Cell{};
}

void Screen::Put(int x, int y, uint8_t ch, Attr attr)
{
    if (x >= 0 && x < Width && y >= 0 && y < Height)
        cells_[y][x] = {ch, attr};
}

Cell Screen::At(int x, int y) const
{
    if (x >= 0 && x < Width && y >= 0 && y < Height)
        return cells_[y][x];
    return Cell{};
}

std::string Screen::Chars(int x, int y, int count) const
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += static_cast<char>(At(x + i, y).ch);
    return out;
}

void Screen::Fill(int x, int y, int width, uint8_t ch, Attr attr)
{
    for (int i = 0; i < width; ++i)
        Put(x + i, y, ch, attr);
}

void Screen::Frame(int x, int y, int width, int height, bool doubleLine, Attr attr)
{
    if (width < 2 || height < 2)
        return;
    // Code page 437 box drawing, which Mazovia keeps.
    const uint8_t h = doubleLine ? 0xCD : 0xC4, v = doubleLine ? 0xBA : 0xB3;
    const uint8_t tl = doubleLine ? 0xC9 : 0xDA, tr = doubleLine ? 0xBB : 0xBF;
    const uint8_t bl = doubleLine ? 0xC8 : 0xC0, br = doubleLine ? 0xBC : 0xD9;
    int right = x + width - 1, bottom = y + height - 1;
    Fill(x + 1, y, width - 2, h, attr);
    Fill(x + 1, bottom, width - 2, h, attr);
    for (int row = y + 1; row < bottom; ++row) {
        Put(x, row, v, attr);
        Put(right, row, v, attr);
    }
    Put(x, y, tl, attr);
    Put(right, y, tr, attr);
    Put(x, bottom, bl, attr);
    Put(right, bottom, br, attr);
}

int Screen::VisibleWidth(std::string_view text)
{
    int cells = 0;
    for (char c : Body(text))
        if (!IsControl(c))
            ++cells;
    return cells;
}

Placement Screen::PlacementOf(std::string_view text)
{
    if (Body(text).size() == text.size())
        return Placement::Left;
    return text[1] == 'c' ? Placement::Centre : Placement::Right;
}

void Screen::Text(int x, int y, int width, std::string_view text, Attr base)
{
    Fill(x, y, width, ' ', base);
    int spare = width - VisibleWidth(text);
    int column = 0;
    if (spare > 0) {
        switch (PlacementOf(text)) {
        case Placement::Left: break;
        case Placement::Centre: column = spare / 2; break;
        case Placement::Right: column = spare; break;
        }
    }
    Attr attr = base;
    for (char c : Body(text)) {
        if (IsControl(c)) {
            attr = AttrOf(c, base);
            continue;
        }
        if (column >= width)
            break;
        Put(x + column++, y, static_cast<uint8_t>(c), attr);
    }
}

} // namespace host
