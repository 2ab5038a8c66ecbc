// The stand-in host's shop database: a JSON file (UTF-8) holding the MM
// documents with their items (tables 58 and 67) and the open sales document
// (table 44's header and the rows of table 45). Texts come out in Mazovia.
//
// A database is read whole or not at all: the first fault stops the reading
// with a DatabaseError that names the file, the line and the field.
//
// Plain C++: it builds for the build machine too, where its tests run.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace host {

// "file:line: field "path": what is wrong".
class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An item, of an MM document or in a used row of the sales document. The
// fields map to the records as: name -> longText (120 characters), code ->
// shortText (16), quantity -> intValue, unit -> smallText (5), vat ->
// shortValue, presence -> presence.
struct DbItem {
    std::string name;
    std::string code;
    int32_t quantity = 0;
    std::string unit;
    int16_t vat = 0;
    int32_t priceOdd = 0;  // hundredths; an MM item's price for an odd price flag
    int32_t priceEven = 0; // hundredths; for an even price flag
    int16_t presence = 1;
};

struct DbMmDocument {
    int32_t key = 0;
    std::string date; // as stored: "YYYYMMDD"
    std::string number;
    std::string description;
    double value = 0; // ten-thousandths of the currency unit
    int16_t warehouse = 0;
    int32_t listable = 1;
    std::vector<DbItem> items;
};

// A used row of the sales document.
struct DbSalesRow {
    int32_t row = 0;
    DbItem item;         // priceOdd holds the row's price in hundredths
    int16_t warehouse = 0;
};

struct DbSalesDocument {
    std::string number;
    std::string customer;
    std::string date; // "YYYYMMDD"
    int16_t priceFlag = 0;
    int32_t rowCount = 0;
    std::vector<DbSalesRow> used;
};

struct Database {
    std::string source; // the file it was read from
    std::vector<DbMmDocument> mmDocuments;
    DbSalesDocument salesDocument;
};

// Reads a database from a file, or from text that `name` stands for in the
// messages. Throws DatabaseError.
Database ReadDatabaseFile(const std::string &path);
Database ParseDatabase(const std::string &text, const std::string &name);

// Limits the records set.
constexpr int32_t MaxSalesRows = 999;

} // namespace host
