// The plug-in's report of a host entry that the host lacks, as the tests
// expect to see it: written here once, in plain Polish, and turned into
// Mazovia by the stand-in host's own conversion.
#pragma once
#include <windows.h>

#include <string>

#include "host/mazovia.h"

namespace report {

inline const std::string kTitle = host::Utf8ToMazovia("Dok. sprzedaży z MM (Ctrl+8 dok.spr.)");
inline const std::string kCaption = host::Utf8ToMazovia("POWAŻNY BŁĄD WTYCZKI");

// The report as composed, its highlight bytes (0x02 on, 0x01 off) included:
// so the DOS extender's box gets it.
inline std::string MissingEntry(const std::string &path, const std::string &number)
{
    return "W module \x02" + path + "\x01\nbrak wpisu \x02" + number +
           host::Utf8ToMazovia("\x01\nWywołano z wtyczki \x02") + kTitle +
           host::Utf8ToMazovia("\x01.\n\nBłąd ten można zignorować lecz dalsza praca\n"
                               "programu w tych warunkach może być niebezpieczna.\n\n"
                               "Konieczna jest aktualizacja programu!");
}

// Under Windows the system's box cannot highlight: the bytes become spaces.
inline std::string Spaced(std::string text)
{
    for (char &c : text)
        if (c == '\x01' || c == '\x02')
            c = ' ';
    return text;
}

// A Mazovia text as Windows writes it in code page 1250, the system box's
// code page, where the host's conversion should put it.
inline std::string InCodePage1250(const std::string &mazovia)
{
    std::string utf8 = host::MazoviaToUtf8(mazovia);
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    wide.data(), static_cast<int>(wide.size())));
    std::string out(wide.size() * 2, '\0');
    out.resize(WideCharToMultiByte(1250, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                                   static_cast<int>(out.size()), nullptr, nullptr));
    return out;
}

// The program's own path, which the report names.
inline std::string ProgramPath()
{
    char path[MAX_PATH] = {};
    return std::string(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
}

} // namespace report
