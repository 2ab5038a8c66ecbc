// The stand-in host's screen: 80 x 25 cells, each a Mazovia byte and an
// attribute. The form engine draws here; tests read it back, and the
// interactive program copies it to the console.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace host {

// What a cell shows, by meaning rather than by colour.
enum class Attr : uint8_t {
    Normal,     // plain text, and the 0x01 control byte
    Highlight,  // control byte 0x02: hot-key names in labels
    Third,      // control byte 0x03
    Fourth,     // control byte 0x04
    KeyName,    // control byte 0x05: key names in buttons
    Frame,      // form frames, boxes, column separators
    Title,      // a form's title in its top frame line
    Field,      // an edit field
    FieldFocus, // the edit field that takes typing
    RowCursor,  // the current row of a list
};

struct Cell {
    uint8_t ch = ' ';
    Attr attr = Attr::Normal;
    bool operator==(const Cell &) const = default;
};

// Where a text stands in its element's width.
enum class Placement { Left, Centre, Right };

class Screen {
public:
    static constexpr int Width = 80;
    static constexpr int Height = 25;

    void Clear();
    // Cells off the screen are ignored on writing and read as blanks.
    void Put(int x, int y, uint8_t ch, Attr attr);
    Cell At(int x, int y) const;
    // The characters of `count` cells from (x, y), attributes dropped.
    std::string Chars(int x, int y, int count) const;
    std::string Line(int y) const { return Chars(0, y, Width); }

    void Fill(int x, int y, int width, uint8_t ch, Attr attr);
    // A single (boxes) or double (forms) frame around width x height cells.
    void Frame(int x, int y, int width, int height, bool doubleLine, Attr attr);

    // A host text in `width` cells from (x, y): the control bytes 0x01-0x05
    // switch attributes and take no cell; 0x01 c or 0x01 p at the start
    // centres the text or aligns it right. The cells are blanked first;
    // what does not fit is cut off. `base` is the attribute of 0x01.
    void Text(int x, int y, int width, std::string_view text, Attr base = Attr::Normal);

    // Cells a host text takes, and the placement it asks for.
    static int VisibleWidth(std::string_view text);
    static Placement PlacementOf(std::string_view text);

private:
    Cell cells_[Height][Width];
};

} // namespace host
