#include "host/database.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "host/mazovia.h"

namespace host {
namespace {

using nlohmann::json;

// Lines of a text: the line of the character at an offset (counted from 0),
// from 1.
class Lines {
public:
    explicit Lines(const std::string &text)
    {
        for (size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\n')
                newlines_.push_back(i);
    }
    int At(size_t offset) const
    {
        auto before = std::lower_bound(newlines_.begin(), newlines_.end(), offset);
        return static_cast<int>(before - newlines_.begin()) + 1;
    }

private:
    std::vector<size_t> newlines_;
};

// Second pass over text that parsed: the line of every field and array
// element by its path ("mmDocuments[2].items[0].name"), and fields given
// twice in one object, which the document parser would silently merge.
class LineMap : public nlohmann::json_sax<json> {
public:
    LineMap(const Lines &lines, std::istringstream &in) : lines_(lines), in_(in) {}

    std::map<std::string, int> lines;
    std::string duplicate; // the path of the first field given twice
    int duplicateLine = 0;

    bool null() override { return Value(); }
    bool boolean(bool) override { return Value(); }
    bool number_integer(number_integer_t) override { return Value(); }
    bool number_unsigned(number_unsigned_t) override { return Value(); }
    bool number_float(number_float_t, const string_t &) override { return Value(); }
    bool string(string_t &) override { return Value(); }
    bool binary(binary_t &) override { return Value(); }
    bool start_object(std::size_t) override { return Open(false); }
    bool start_array(std::size_t) override { return Open(true); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(string_t &name) override
    {
        Frame &top = stack_.back();
        top.key = name;
        std::string path = Child(top);
        int line = Line();
        if (!top.keys.insert(name).second && duplicate.empty()) {
            duplicate = path;
            duplicateLine = line;
            return false;
        }
        lines[path] = line;
        return true;
    }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) override
    {
        return false;
    }

private:
    struct Frame {
        std::string path;
        bool array;
        size_t index = 0;
        std::string key;
        std::set<std::string> keys;
    };

    // The line of the last character the lexer took: the closing quote of a
    // key, the bracket that opens an object or array.
    int Line()
    {
        auto consumed = in_.rdbuf()->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
        size_t at = consumed > 0 ? static_cast<size_t>(consumed) - 1 : 0;
        return lines_.At(at);
    }
    static std::string Child(const Frame &f)
    {
        if (f.array)
            return f.path + "[" + std::to_string(f.index) + "]";
        return f.path.empty() ? f.key : f.path + "." + f.key;
    }
    // The path of the value that starts now; array elements get their line.
    std::string Place()
    {
        if (stack_.empty())
            return "";
        Frame &top = stack_.back();
        std::string path = Child(top);
        if (top.array) {
            lines.emplace(path, Line());
            ++top.index;
        }
        return path;
    }
    bool Value()
    {
        Place();
        return true;
    }
    bool Open(bool array)
    {
        std::string path = Place();
        lines.emplace(path, Line());
        stack_.push_back(Frame{path, array, 0, {}, {}});
        return true;
    }
    bool Close()
    {
        stack_.pop_back();
        return true;
    }

    const Lines &lines_;
    std::istringstream &in_;
    std::vector<Frame> stack_;
};

class Reader {
public:
    Reader(std::string name, std::map<std::string, int> lines)
        : name_(std::move(name)), lines_(std::move(lines))
    {
    }

    [[noreturn]] void Fail(const std::string &path, const std::string &problem) const
    {
        // A field's own line, or that of the nearest enclosing one.
        std::string at = path;
        int line = 0;
        while (true) {
            auto found = lines_.find(at);
            if (found != lines_.end()) {
                line = found->second;
                break;
            }
            size_t cut = at.find_last_of(".[");
            if (cut == std::string::npos) {
                line = lines_.count("") ? lines_.at("") : 1;
                break;
            }
            at.resize(cut);
        }
        throw DatabaseError(name_ + ":" + std::to_string(line) + ": field \"" +
                            (path.empty() ? "(top level)" : path) + "\": " + problem);
    }

    static std::string Join(const std::string &path, const std::string &key)
    {
        return path.empty() ? key : path + "." + key;
    }
    static std::string Index(const std::string &path, size_t i)
    {
        return path + "[" + std::to_string(i) + "]";
    }

    // An object whose fields are all among `known`.
    const json &Object(const json &j, const std::string &path,
                       std::initializer_list<const char *> known) const
    {
        if (!j.is_object())
            Fail(path, "expected an object");
        for (const auto &[name, value] : j.items()) {
            bool ok = false;
            for (const char *k : known)
                ok = ok || name == k;
            if (!ok)
                Fail(Join(path, name), "unknown field");
        }
        return j;
    }

    const json &Array(const json &j, const std::string &path) const
    {
        if (!j.is_array())
            Fail(path, "expected an array");
        return j;
    }

    const json &Field(const json &obj, const std::string &path, const char *key) const
    {
        auto found = obj.find(key);
        if (found == obj.end())
            Fail(Join(path, key), "missing");
        return *found;
    }

    int64_t Integer(const json &obj, const std::string &path, const char *key, int64_t min,
                    int64_t max, std::optional<int64_t> otherwise = std::nullopt) const
    {
        if (!obj.contains(key) && otherwise)
            return *otherwise;
        const json &v = Field(obj, path, key);
        std::string where = Join(path, key);
        std::string range = "expected a whole number from " + std::to_string(min) + " to " +
                            std::to_string(max);
        if (v.is_number_unsigned()) {
            if (v.get<uint64_t>() > static_cast<uint64_t>(max))
                Fail(where, range);
            return static_cast<int64_t>(v.get<uint64_t>());
        }
        if (!v.is_number_integer())
            Fail(where, range);
        int64_t n = v.get<int64_t>();
        if (n < min || n > max)
            Fail(where, range);
        return n;
    }

    // A non-negative amount with at most `decimals` decimals, as a whole
    // number of 1/10^decimals units.
    int64_t Amount(const json &obj, const std::string &path, const char *key, int decimals,
                   int64_t max) const
    {
        const json &v = Field(obj, path, key);
        std::string where = Join(path, key);
        std::string want = "expected an amount from 0 with at most " + std::to_string(decimals) +
                           " decimals";
        if (!v.is_number())
            Fail(where, want);
        double scaled = v.get<double>() * std::pow(10.0, decimals);
        double whole = std::round(scaled);
        if (!(scaled >= 0) || std::fabs(scaled - whole) > 1e-6 * std::max(1.0, whole) ||
            whole > static_cast<double>(max))
            Fail(where, want);
        return static_cast<int64_t>(whole);
    }

    // A text in Mazovia, at most `maxChars` characters.
    std::string Text(const json &obj, const std::string &path, const char *key, size_t maxChars,
                     bool required = true) const
    {
        if (!required && !obj.contains(key))
            return "";
        const json &v = Field(obj, path, key);
        std::string where = Join(path, key);
        if (!v.is_string())
            Fail(where, "expected a text");
        const std::string &utf8 = v.get_ref<const std::string &>();
        for (unsigned char c : utf8)
            if (c < 0x20)
                Fail(where, "control characters are not allowed in a text");
        std::string mazovia = Utf8ToMazovia(utf8);
        if (MazoviaToUtf8(mazovia) != utf8)
            Fail(where, "a character that the Mazovia code page lacks");
        if (mazovia.size() > maxChars)
            Fail(where, "longer than " + std::to_string(maxChars) + " characters");
        return mazovia;
    }

    // "YYYY-MM-DD", a real calendar date, to the stored form "YYYYMMDD".
    std::string Date(const json &obj, const std::string &path, const char *key) const
    {
        const json &v = Field(obj, path, key);
        std::string where = Join(path, key);
        const char *want = "expected a date \"YYYY-MM-DD\"";
        if (!v.is_string())
            Fail(where, want);
        const std::string &s = v.get_ref<const std::string &>();
        if (s.size() != 10 || s[4] != '-' || s[7] != '-')
            Fail(where, want);
        for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
            if (s[i] < '0' || s[i] > '9')
                Fail(where, want);
        int year = std::stoi(s.substr(0, 4)), month = std::stoi(s.substr(5, 2)),
            day = std::stoi(s.substr(8, 2));
        static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        if (year < 1900 || month < 1 || month > 12 || day < 1 ||
            day > kDays[month - 1] + (month == 2 && leap))
            Fail(where, "no such date: " + s);
        return s.substr(0, 4) + s.substr(5, 2) + s.substr(8, 2);
    }

private:
    std::string name_;
    std::map<std::string, int> lines_;
};

constexpr int64_t kInt16Min = std::numeric_limits<int16_t>::min();
constexpr int64_t kInt16Max = std::numeric_limits<int16_t>::max();
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// The fields an item has in both places; the price fields differ.
void ReadItemCommon(const Reader &r, const json &j, const std::string &path, DbItem &item)
{
    item.name = r.Text(j, path, "name", 120);
    item.code = r.Text(j, path, "code", 16, false);
    item.quantity = static_cast<int32_t>(r.Integer(j, path, "quantity", kInt32Min, kInt32Max));
    item.unit = r.Text(j, path, "unit", 5, false);
    item.vat = static_cast<int16_t>(r.Integer(j, path, "vat", kInt16Min, kInt16Max, 0));
    item.presence =
        static_cast<int16_t>(r.Integer(j, path, "presence", kInt16Min, kInt16Max, 1));
}

DbMmDocument ReadMmDocument(const Reader &r, const json &j, const std::string &path)
{
    r.Object(j, path, {"key", "number", "date", "description", "value", "warehouse", "listable",
                       "items"});
    DbMmDocument doc;
    doc.key = static_cast<int32_t>(r.Integer(j, path, "key", kInt32Min, kInt32Max));
    doc.number = r.Text(j, path, "number", 16);
    doc.date = r.Date(j, path, "date");
    doc.description = r.Text(j, path, "description", 120, false);
    doc.value = static_cast<double>(r.Amount(j, path, "value", 4, int64_t{1} << 52));
    doc.warehouse = static_cast<int16_t>(r.Integer(j, path, "warehouse", kInt16Min, kInt16Max));
    doc.listable = static_cast<int32_t>(r.Integer(j, path, "listable", kInt32Min, kInt32Max, 1));
    std::string itemsPath = Reader::Join(path, "items");
    const json &items = r.Array(r.Field(j, path, "items"), itemsPath);
    for (size_t i = 0; i < items.size(); ++i) {
        std::string at = Reader::Index(itemsPath, i);
        const json &item = r.Object(items[i], at, {"name", "code", "quantity", "unit", "vat",
                                                    "priceOdd", "priceEven", "presence"});
        DbItem out;
        ReadItemCommon(r, item, at, out);
        out.priceOdd = static_cast<int32_t>(r.Amount(item, at, "priceOdd", 2, kInt32Max));
        out.priceEven = static_cast<int32_t>(r.Amount(item, at, "priceEven", 2, kInt32Max));
        doc.items.push_back(std::move(out));
    }
    return doc;
}

DbSalesDocument ReadSalesDocument(const Reader &r, const json &j, const std::string &path)
{
    r.Object(j, path, {"number", "customer", "date", "priceFlag", "rows", "used"});
    DbSalesDocument doc;
    doc.number = r.Text(j, path, "number", 30);
    doc.customer = r.Text(j, path, "customer", 50, false);
    doc.date = r.Date(j, path, "date");
    doc.priceFlag = static_cast<int16_t>(r.Integer(j, path, "priceFlag", kInt16Min, kInt16Max, 0));
    doc.rowCount = static_cast<int32_t>(r.Integer(j, path, "rows", 1, MaxSalesRows));
    std::string usedPath = Reader::Join(path, "used");
    if (!j.contains("used"))
        return doc;
    const json &used = r.Array(j["used"], usedPath);
    std::set<int32_t> taken;
    for (size_t i = 0; i < used.size(); ++i) {
        std::string at = Reader::Index(usedPath, i);
        const json &row = r.Object(used[i], at, {"row", "name", "code", "quantity", "unit", "vat",
                                                  "price", "warehouse", "presence"});
        DbSalesRow out;
        out.row = static_cast<int32_t>(r.Integer(row, at, "row", 0, doc.rowCount - 1));
        if (!taken.insert(out.row).second)
            r.Fail(Reader::Join(at, "row"), "row " + std::to_string(out.row) + " is used twice");
        ReadItemCommon(r, row, at, out.item);
        out.item.priceOdd = static_cast<int32_t>(r.Amount(row, at, "price", 2, kInt32Max));
        out.item.priceEven = out.item.priceOdd;
        out.warehouse = static_cast<int16_t>(r.Integer(row, at, "warehouse", kInt16Min, kInt16Max, 0));
        doc.used.push_back(std::move(out));
    }
    return doc;
}

// nlohmann's message without its own prefix and position.
std::string SyntaxProblem(const json::parse_error &e)
{
    std::string what = e.what();
    size_t column = what.find("column ");
    if (column != std::string::npos) {
        size_t colon = what.find(": ", column);
        if (colon != std::string::npos)
            return what.substr(colon + 2);
    }
    return what;
}

} // namespace

Database ParseDatabase(const std::string &text, const std::string &name)
{
    const Lines lines(text);
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error &e) {
        size_t at = e.byte > 0 ? e.byte - 1 : 0;
        throw DatabaseError(name + ":" + std::to_string(lines.At(at)) + ": " + SyntaxProblem(e));
    }

    std::istringstream in(text);
    LineMap map(lines, in);
    json::sax_parse(in, &map);
    if (!map.duplicate.empty())
        throw DatabaseError(name + ":" + std::to_string(map.duplicateLine) + ": field \"" +
                            map.duplicate + "\": given twice");

    Reader r(name, std::move(map.lines));
    r.Object(root, "", {"salesDocument", "mmDocuments"});
    Database db;
    db.source = name;
    db.salesDocument = ReadSalesDocument(r, r.Field(root, "", "salesDocument"), "salesDocument");
    const json &docs = r.Array(r.Field(root, "", "mmDocuments"), "mmDocuments");
    std::set<int32_t> keys;
    for (size_t i = 0; i < docs.size(); ++i) {
        std::string at = Reader::Index("mmDocuments", i);
        DbMmDocument doc = ReadMmDocument(r, docs[i], at);
        if (!keys.insert(doc.key).second)
            r.Fail(Reader::Join(at, "key"), "key " + std::to_string(doc.key) + " is used twice");
        db.mmDocuments.push_back(std::move(doc));
    }
    return db;
}

Database ReadDatabaseFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw DatabaseError(path + ": cannot open: " + std::strerror(errno));
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad())
        throw DatabaseError(path + ": cannot read: " + std::strerror(errno));
    return ParseDatabase(content.str(), path);
}

} // namespace host
