// FormTable byte by byte as the host's form engine reads it, against a table
// of the expected forms and elements: the very bytes the host is handed, in
// the image's read-only data.
#include "check.h"

#include <sstream>

namespace image {
namespace {

constexpr uint16_t kEdit = 5;

struct Element {
    uint16_t type;
    uint16_t id;
    uint32_t style;
    int16_t column, line, width, height;
    uint32_t reserved;
    std::string text; // as stored, without the terminating zero
};

struct Form {
    const char *name;
    uint16_t bodyLength;
    std::vector<Element> elements; // the form element first
};

// The date dialog's edit fields: fixed 43 bytes apart from the column.
Element Edit(int16_t column) { return {kEdit, 0xFFFF, 0x400, column, 2, 13, 1, 0, ""}; }
constexpr uint16_t kEditSize = 38;
const std::string kEditTail(
    "\x00\x00\x00\x00\x00\x00\x00\x08\x00\x08\x02\x02\x00\x08\x00\x01\x00\x00", 18);

const std::vector<Form> kForms = {
    {"ProcessingForm",
     120,
     {
         {0xFFFF, 1001, 0x4008, 0, 0, 48, 5, 0, "Przetwarzanie"},
         {7, 0xFFFF, 0, 3, 1, 42, 3, 3, ""},
         {4, 0x4003, 0, 4, 2, 40, 1, 0,
          "1234567890\x05"
          "1234567890\x02"
          "12345\x03"
          "67890\x04"
          "1234567890"},
     }},
    {"DateRangeForm",
     256,
     {
         {0xFFFF, 1003, 0x200, 0, 0, 61, 7, 0, "Podaj daty (wystawienia) graniczne dla dok. MM"},
         {3, 0x3D00, 0, 1, 2, 13, 1, 0, "\x01p\x02" "F3\x01 Okres Od\x01"},
         Edit(17),
         {3, 0x3E00, 0, 31, 2, 13, 1, 0, "\x01p\x02" "F4\x01 Okres Do\x01"},
         Edit(45),
         {0, 0x5001, 0x55000004, 25, 4, 10, 1, 0, "\x05" "F12\x01 OK"},
     }},
    {"MmListForm",
     254,
     {
         {0xFFFF, 1002, 0x200, 0, 0, 78, 18, 0, "Wybierz dokumenty MM"},
         // "Wartość" in the Mazovia code page: ś 0x9E, ć 0x8D.
         {4, 0x5801, 0, 2, 3, 74, 1, 0,
          "l3\rl17Numer MM\rl-30Opis\rp15Warto\x9E\x8D zak.br.\rl12Data wyst."},
         {3, 0xFFFF, 0x3D000000, 2, 2, 20, 1, 0, "\x02" "F3\x01 Dokumenty MM"},
         {6, 0x4001, 0x408, 2, 4, 74, 9, 0, ""},
         {0, 0x5200, 0x80, 2, 13, 26, 1, 0, "\x01" "c\x05" "INSERT\x01 Zaznacz/Odznacz\x01"},
         {0, 0x5001, 0x55000100, 30, 15, 16, 1, 0, "\x05" "F12\x01 OK"},
     }},
};

void Fail(Check &c, const std::string &where, const std::string &what)
{
    c.That(false, where + ": " + what);
}

template <typename T>
void Expect(Check &c, const std::string &where, const char *field, T actual, T expected)
{
    std::ostringstream s;
    s << where << ": " << field << " is " << static_cast<int64_t>(actual) << ", expected "
      << static_cast<int64_t>(expected);
    c.That(actual == expected, s.str());
}

class Reader {
public:
    explicit Reader(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}
    bool Has(size_t n) const { return pos_ + n <= bytes_.size(); }
    size_t pos() const { return pos_; }
    void Seek(size_t pos) { pos_ = pos; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
    uint32_t U32() { return U16() | static_cast<uint32_t>(U16()) << 16; }
    uint8_t Byte() { return pos_ < bytes_.size() ? bytes_[pos_++] : (pos_++, 0); }
    // A zero-terminated text that must end before `limit`.
    bool Text(size_t limit, std::string &out)
    {
        out.clear();
        while (pos_ < limit && pos_ < bytes_.size()) {
            char c = static_cast<char>(bytes_[pos_++]);
            if (c == 0)
                return true;
            out += c;
        }
        return false;
    }

private:
    const std::vector<uint8_t> &bytes_;
    size_t pos_ = 0;
};

// Cells a text takes: control bytes 0x01-0x05 take none, nor does the
// placement letter after a leading 0x01.
int VisibleWidth(const std::string &text)
{
    size_t i = 0;
    if (text.size() >= 2 && text[0] == 1 && (text[1] == 'c' || text[1] == 'p'))
        i = 2;
    int cells = 0;
    for (; i < text.size(); ++i)
        if (text[i] < 1 || text[i] > 5)
            ++cells;
    return cells;
}

void CheckHeader(Check &c, Reader &r, const std::string &where, const Element &e)
{
    Expect(c, where, "type", r.U16(), e.type);
    Expect(c, where, "id", r.U16(), e.id);
    Expect(c, where, "style", r.U32(), e.style);
    Expect(c, where, "column", static_cast<int16_t>(r.U16()), e.column);
    Expect(c, where, "line", static_cast<int16_t>(r.U16()), e.line);
    Expect(c, where, "width", static_cast<int16_t>(r.U16()), e.width);
    Expect(c, where, "height", static_cast<int16_t>(r.U16()), e.height);
    Expect(c, where, "reserved", r.U32(), e.reserved);
}

void CheckText(Check &c, Reader &r, size_t bodyEnd, const std::string &where, const Element &e)
{
    std::string text;
    if (!r.Text(bodyEnd, text)) {
        Fail(c, where, "text runs past the end of the form's body");
        return;
    }
    c.That(text == e.text,
           where + ": text is \"" + Printable(text) + "\", expected \"" + Printable(e.text) + "\"");
}

void CheckEdit(Check &c, Reader &r, size_t bodyEnd, const std::string &where, const Element &e)
{
    size_t start = r.pos();
    Expect(c, where, "edit type", r.U16(), kEdit);
    Expect(c, where, "edit size word", r.U16(), kEditSize);
    CheckHeader(c, r, where, e);
    CheckText(c, r, bodyEnd, where, e);
    std::string tail;
    for (size_t i = 0; i < kEditTail.size(); ++i)
        tail += static_cast<char>(r.Byte());
    c.That(tail == kEditTail, where + ": edit tail is \"" + Printable(tail) + "\"");
    Expect(c, where, "edit field bytes", r.pos() - start, size_t{43});
}

void CheckTable(Check &c, const std::vector<uint8_t> &bytes)
{
    Expect(c, "FormTable", "size", bytes.size(), size_t{646});
    Reader r(bytes);
    Expect(c, "FormTable", "record bytes", r.U32(), uint32_t{642});
    for (const Form &form : kForms) {
        std::string name = form.name;
        if (!r.Has(4)) {
            Fail(c, name, "record missing");
            return;
        }
        uint16_t body = r.U16();
        uint16_t count = r.U16();
        Expect(c, name, "body length", body, form.bodyLength);
        Expect(c, name, "element count", count, static_cast<uint16_t>(form.elements.size() - 1));
        size_t bodyEnd = r.pos() + body;
        for (size_t i = 0; i < form.elements.size(); ++i) {
            const Element &e = form.elements[i];
            std::string where = name + " element " + std::to_string(i);
            if (e.type == kEdit) {
                CheckEdit(c, r, bodyEnd, where, e);
            } else {
                CheckHeader(c, r, where, e);
                CheckText(c, r, bodyEnd, where, e);
            }
            // Every visible text fits its element; the column description
            // of the list's text line is not shown as it stands.
            bool columnSpec = e.type == 4 && e.id == 0x5801;
            c.That(columnSpec || VisibleWidth(e.text) <= e.width,
                   where + ": text wider than the element");
        }
        Expect(c, name, "end of the last element", r.pos(), bodyEnd);
        r.Seek(bodyEnd);
    }
    Expect(c, "FormTable", "end of the last record", r.pos(), bytes.size());
}

// FormTable as the image holds it: 646 bytes of read-only data.
void FormTableBytes(const PeFile &pe, Check &c)
{
    uint32_t table = pe.Symbol("_FormTable");
    const Section *s = pe.SectionAt(table);
    if (!s) {
        c.That(false, "_FormTable lies in no section");
        return;
    }
    c.Equal(s->name, ".rdata", "section of FormTable");
    c.That(!s->Writable() && !s->Executable() && (s->flags & kSectionInitialisedData),
           "FormTable lies in read-only initialised data");
    CheckTable(c, pe.Read(table, 646));
}

} // namespace

const std::vector<Case> &FormTableCases()
{
    static const std::vector<Case> cases = {
        {"form-table/bytes", FormTableBytes},
    };
    return cases;
}

} // namespace image
