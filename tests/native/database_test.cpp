#include <gtest/gtest.h>

#include <set>
#include <string>

#include "host/database.h"
#include "hostapi/mazovia.h"

namespace {

// A small database, one field a line, that the cases below break in one place.
const char *const kGood = R"({
  "salesDocument": {
    "number": "FV/7/2026",
    "customer": "Sklep Żabka",
    "date": "2026-11-20",
    "priceFlag": 1,
    "rows": 4,
    "used": [
      {"row": 1, "name": "Łopata", "quantity": 2, "unit": "szt", "price": 49.9}
    ]
  },
  "mmDocuments": [
    {
      "key": 7,
      "number": "MM/1/26",
      "date": "2026-10-05",
      "description": "Przesunięcie",
      "value": 1234.5678,
      "warehouse": 2,
      "items": [
        {"name": "Gwoździe", "code": "GW-100", "quantity": 5, "unit": "kg",
         "priceOdd": 12.34, "priceEven": 56.78, "presence": 0}
      ]
    }
  ]
}
)";

std::string Replace(std::string text, const std::string &from, const std::string &to)
{
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

TEST(Database, ReadsEveryFieldInMazovia)
{
    host::Database db = host::ParseDatabase(kGood, "good.json");
    const host::DbSalesDocument &sales = db.salesDocument;
    EXPECT_EQ(sales.customer, std::string(MAZOVIA("Sklep Żabka")));
    EXPECT_EQ(sales.date, "20261120");
    EXPECT_EQ(sales.priceFlag, 1);
    EXPECT_EQ(sales.rowCount, 4);
    ASSERT_EQ(sales.used.size(), 1u);
    EXPECT_EQ(sales.used[0].row, 1);
    EXPECT_EQ(sales.used[0].item.name, std::string(MAZOVIA("Łopata")));
    EXPECT_EQ(sales.used[0].item.priceOdd, 4990);
    EXPECT_EQ(sales.used[0].item.presence, 1); // the default

    ASSERT_EQ(db.mmDocuments.size(), 1u);
    const host::DbMmDocument &doc = db.mmDocuments[0];
    EXPECT_EQ(doc.key, 7);
    EXPECT_EQ(doc.date, "20261005");
    EXPECT_EQ(doc.description, std::string(MAZOVIA("Przesunięcie")));
    EXPECT_EQ(doc.value, 12345678.0);
    EXPECT_EQ(doc.listable, 1);
    ASSERT_EQ(doc.items.size(), 1u);
    EXPECT_EQ(doc.items[0].name, std::string(MAZOVIA("Gwoździe")));
    EXPECT_EQ(doc.items[0].priceOdd, 1234);
    EXPECT_EQ(doc.items[0].priceEven, 5678);
    EXPECT_EQ(doc.items[0].presence, 0);
}

// Each case breaks the good database in one place; the message must name
// the file, the line and the field.
TEST(Database, RefusesAFaultWithFileLineAndField)
{
    struct Case {
        const char *name;
        const char *from;
        const char *to;
        const char *message;
    };
    const Case cases[] = {
        {"syntax", "\"priceFlag\": 1,", "\"priceFlag\": 1,,", "bad.json:6: syntax error"},
        {"unterminated", "\"MM/1/26\",", "\"MM/1/26,", "bad.json:15: syntax error"},
        {"wrong type", "\"quantity\": 5", "\"quantity\": \"5\"",
         "bad.json:21: field \"mmDocuments[0].items[0].quantity\": expected a whole number"},
        {"missing field", "\"number\": \"MM/1/26\",", "",
         "bad.json:13: field \"mmDocuments[0].number\": missing"},
        {"unknown field", "\"warehouse\": 2,", "\"warehous\": 2,",
         "bad.json:19: field \"mmDocuments[0].warehous\": unknown field"},
        {"given twice", "\"rows\": 4,", "\"rows\": 4, \"rows\": 5,",
         "bad.json:7: field \"salesDocument.rows\": given twice"},
        {"no such date", "2026-10-05", "2026-02-30",
         "bad.json:16: field \"mmDocuments[0].date\": no such date"},
        {"date form", "2026-10-05", "05.10.2026",
         "bad.json:16: field \"mmDocuments[0].date\": expected a date"},
        {"too long", "\"GW-100\"", "\"GW-100-200-300-400\"",
         "bad.json:21: field \"mmDocuments[0].items[0].code\": longer than 16"},
        {"not Mazovia", "Przesunięcie", "Przesunięcie €",
         "bad.json:17: field \"mmDocuments[0].description\": a character that the Mazovia"},
        {"out of range", "\"presence\": 0", "\"presence\": 40000",
         "bad.json:22: field \"mmDocuments[0].items[0].presence\": expected a whole number from -32768 to 32767"},
        {"row outside", "{\"row\": 1,", "{\"row\": 4,",
         "bad.json:9: field \"salesDocument.used[0].row\": expected a whole number from 0 to 3"},
        {"three decimals", "49.9}", "49.999}",
         "bad.json:9: field \"salesDocument.used[0].price\": expected an amount"},
        {"not an object", "\"items\": [\n        {", "\"items\": [ 5, \n        {",
         "bad.json:20: field \"mmDocuments[0].items[0]\": expected an object"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = Replace(kGood, c.from, c.to);
        try {
            host::ParseDatabase(text, "bad.json");
            ADD_FAILURE() << "accepted";
        } catch (const host::DatabaseError &e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
        }
    }
}

TEST(Database, RefusesAMissingFile)
{
    try {
        host::ReadDatabaseFile("/nonexistent/shop.json");
        ADD_FAILURE() << "accepted";
    } catch (const host::DatabaseError &e) {
        EXPECT_EQ(std::string(e.what()).rfind("/nonexistent/shop.json: cannot open", 0), 0u)
            << e.what();
    }
}

// The shipped sample holds the cases the demonstration shows.
TEST(Database, SampleHasWhatTheDemoShows)
{
    host::Database db = host::ReadDatabaseFile(TOLMAR_SAMPLE_DATABASE);
    ASSERT_GE(db.mmDocuments.size(), 24u);
    bool absentItem = false, longDescription = false, sameDay = false;
    std::set<std::string> months, days;
    for (const host::DbMmDocument &doc : db.mmDocuments) {
        for (const host::DbItem &item : doc.items)
            absentItem = absentItem || item.presence == 0;
        longDescription = longDescription || doc.description.size() > 30;
        sameDay = sameDay || !days.insert(doc.date).second;
        months.insert(doc.date.substr(0, 6));
    }
    EXPECT_TRUE(absentItem);
    EXPECT_TRUE(longDescription);
    EXPECT_TRUE(sameDay);
    EXPECT_GE(months.size(), 2u);
    const host::DbSalesDocument &sales = db.salesDocument;
    EXPECT_FALSE(sales.used.empty());
    EXPECT_LT(static_cast<int32_t>(sales.used.size()), sales.rowCount);
}

} // namespace
