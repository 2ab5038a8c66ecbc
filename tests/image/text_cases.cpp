// The plug-in's own texts as the image holds them: each one, written here in
// plain Polish, is turned into the Mazovia code page by this file's own
// table and must lie in the image's read-only data as those bytes and a
// terminating zero. So the texts' bytes stay as they are however the sources
// come to spell them.
#include "check.h"

#include <algorithm>
#include <string_view>

namespace image {
namespace {

// The Polish letters of the Mazovia code page; every other byte of the
// texts is ASCII.
struct Letter {
    std::string_view utf8;
    uint8_t mazovia;
};
constexpr Letter kLetters[] = {
    {"Ą", 0x8F}, {"Ć", 0x95}, {"Ę", 0x90}, {"Ł", 0x9C}, {"Ń", 0xA5}, {"Ó", 0xA3},
    {"Ś", 0x98}, {"Ź", 0xA0}, {"Ż", 0xA1}, {"ą", 0x86}, {"ć", 0x8D}, {"ę", 0x91},
    {"ł", 0x92}, {"ń", 0xA4}, {"ó", 0xA2}, {"ś", 0x9E}, {"ź", 0xA6}, {"ż", 0xA7},
};

std::string Mazovia(std::string_view utf8)
{
    std::string out;
    while (!utf8.empty()) {
        if (static_cast<unsigned char>(utf8[0]) < 0x80) {
            out += utf8[0];
            utf8.remove_prefix(1);
            continue;
        }
        auto letter = std::find_if(std::begin(kLetters), std::end(kLetters),
                                   [&](const Letter &l) { return utf8.starts_with(l.utf8); });
        if (letter == std::end(kLetters))
            throw ImageError("a text of the checker has a letter outside the Mazovia table");
        out += static_cast<char>(letter->mazovia);
        utf8.remove_prefix(letter->utf8.size());
    }
    return out;
}

// The texts with their length in bytes where the description gives it (0:
// not given). Highlight bytes: \x02 on, \x01 off.
struct Text {
    std::string_view utf8;
    size_t bytes; // without the terminating zero
};
constexpr Text kTexts[] = {
    {"Dok. sprzedaży z MM (Ctrl+8 dok.spr.)", 37},
    // Message titles and the setting.
    {"Błąd", 0},
    {"Uwaga", 0},
    {"uwaga", 0},
    {"Blokada", 0},
    {"STOP!", 0},
    {"Tolmar", 0},
    {"Pytaj", 0},
    // The command's messages.
    {"Błąd operacji dyskowej!", 0},
    {"Błąd operacji dyskowej w PobierzPozDokumentu!", 0},
    {"Błąd podczas alokowania pamięci w WybierzMM!\nOperacja niekompletna!", 0},
    {"Błąd podczas alokowania pamięci w PobierzPozDokumentu!\nOperacja niekompletna!", 0},
    {"Błąd w od_fseek w PobierzPozDokumentu", 0},
    {"Proszę czekać!", 0},
    {"Brak dokumentów do zaznaczenia!", 0},
    {"Więcej pozycji nie zmieści się w tym dokumencie !", 0},
    // Attachment.
    {"Wersje tabeli \x02%s\x01 w programie i we wtyczce\nnie pasują do siebie (WT:%d, ZQ:%d)!"
     "\n\n\nWtyczka \x02%s\x01\nNIE zostanie załadowana!",
     0},
    {"Zainstalowano: %s", 0},
    // The report of a missing host entry.
    {"W module \x02%s\x01\nbrak wpisu \x02%s\x01\nWywołano z wtyczki \x02%s\x01.\n\n"
     "Błąd ten można zignorować lecz dalsza praca\nprogramu w tych warunkach może być "
     "niebezpieczna.\n\nKonieczna jest aktualizacja programu!",
     188},
    {"POWAŻNY BŁĄD WTYCZKI", 0},
    {"<nieznany>", 0},
    // The report of a ZUNDA.dll function found nowhere.
    {"Nie znaleziono\n%s\nfrom %s", 0},
    {"Blad wtyczki", 0},
};

void PolishTexts(const PeFile &pe, Check &c)
{
    const Section &rdata = pe.SectionNamed(".rdata");
    c.That(!rdata.Writable() && !rdata.Executable(), ".rdata is read-only data");
    std::vector<uint8_t> bytes = pe.Read(rdata.address, rdata.virtualSize);
    for (const Text &t : kTexts) {
        std::string text = Mazovia(t.utf8);
        if (t.bytes != 0)
            c.Equal(text.size(), t.bytes, "bytes of \"" + Printable(text) + "\"");
        std::vector<uint8_t> zeroEnded(text.begin(), text.end());
        zeroEnded.push_back(0);
        auto at = std::search(bytes.begin(), bytes.end(), zeroEnded.begin(), zeroEnded.end());
        c.That(at != bytes.end(), "\"" + Printable(text) + "\" is not in .rdata");
    }
}

} // namespace

const std::vector<Case> &TextCases()
{
    static const std::vector<Case> cases = {
        {"texts/mazovia", PolishTexts},
    };
    return cases;
}

} // namespace image
