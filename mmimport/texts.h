// The command's messages, each written once: the titles and texts that it
// shows with HostMessageBox, in Mazovia.
//
// They stand in the reverse order of their use in each file. The compiler
// lays a file's named constants out from the last defined to the first; in
// this order each file's constant data keeps the size it had when the texts
// were literals at the calls, so the rest of the image keeps its place. The
// order matters for nothing else.
#pragma once
#include "hostapi/mazovia.h"

namespace texts {

// PobierzPozDokumentu
MAZOVIA_TEXT(ItemGrowError,
             "Błąd podczas alokowania pamięci w PobierzPozDokumentu!\nOperacja niekompletna!");
MAZOVIA_TEXT(Warning, "uwaga"); // the title of SeekError
MAZOVIA_TEXT(SeekError, "Błąd w od_fseek w PobierzPozDokumentu");

// The handler: the title of NoRoom.
MAZOVIA_TEXT(Blocked, "Blokada");

// WybierzMM
MAZOVIA_TEXT(Attention, "Uwaga");
MAZOVIA_TEXT(DiskError, "Błąd operacji dyskowej!");
MAZOVIA_TEXT(ListGrowError, "Błąd podczas alokowania pamięci w WybierzMM!\nOperacja niekompletna!");
MAZOVIA_TEXT(Wait, "Proszę czekać!");
MAZOVIA_TEXT(NothingToMark, "Brak dokumentów do zaznaczenia!");

// Everywhere: the title of the errors.
MAZOVIA_TEXT(Error, "Błąd");

// PobierzPozDokumentu, and the handler when the sales headers are missing.
MAZOVIA_TEXT(ItemTablesError, "Błąd operacji dyskowej w PobierzPozDokumentu!");

// The handler: the sales document has no free row left.
MAZOVIA_TEXT(NoRoom, "Więcej pozycji nie zmieści się w tym dokumencie !");

} // namespace texts
