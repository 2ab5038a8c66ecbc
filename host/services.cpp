// The numbered services of the stand-in host, each with the calling
// convention the plug-in's declarations give it: __stdcall where the service
// removes its arguments, __cdecl where the caller does.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/mazovia.h"
#include "host/process_service.h"
#include "host/service_table.h"
#include "host/stand_in_host.h"

namespace host {
namespace {

StandInHost &H() { return StandInHost::Current(); }

std::string Str(const char *s) { return s ? std::string("\"") + s + "\"" : "null"; }

} // namespace

extern "C" {

TableDescriptor *__stdcall SvcGetTable(int32_t tableId)
{
    H().Record("HostGetTable(" + std::to_string(tableId) + ")");
    if (tableId == 45 && H().salesDocAvailable)
        return &H().salesDoc;
    return H().data.Table(tableId);
}

int32_t __cdecl SvcMessageBoxF(const char *title, const char *format, int32_t style, ...)
{
    char text[2048];
    va_list args;
    va_start(args, style);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    H().Record("HostMessageBoxF(" + Str(title) + ", " + std::to_string(style) + ")");
    H().messages.push_back({title ? title : "", text, style});
    if (H().showMessage)
        H().showMessage(H().messages.back());
    return 1;
}

int32_t __stdcall SvcMessageBox(const char *title, const char *text, int32_t style)
{
    H().Record("HostMessageBox(" + Str(title) + ", " + std::to_string(style) + ")");
    H().messages.push_back({title ? title : "", text ? text : "", style});
    if (H().showMessage)
        H().showMessage(H().messages.back());
    return 1;
}

int16_t __cdecl SvcProfile(int32_t mode, const char *section, const char *key, const char *format,
                           ...)
{
    va_list args;
    va_start(args, format);
    std::string name = std::string(section) + "/" + key;
    int16_t result = 0;
    if (mode == 1) {
        int32_t *target = va_arg(args, int32_t *);
        H().Record("HostProfile(1, " + Str(section) + ", " + Str(key) + ", " + Str(format) + ")");
        auto found = H().profile.find(name);
        if (H().profileUnreadable || found == H().profile.end())
            result = 1;
        else
            sscanf(found->second.c_str(), format, target);
    } else {
        int32_t value = va_arg(args, int32_t);
        H().Record("HostProfile(2, " + Str(section) + ", " + Str(key) + ", " + Str(format) + ", " +
                   std::to_string(value) + ")");
        char text[32];
        snprintf(text, sizeof text, format, value);
        H().profile[name] = text;
    }
    va_end(args);
    return result;
}

int32_t __cdecl SvcNoticeBox(int32_t notice, int16_t *answer, int32_t zero, const char *text)
{
    H().Record("HostNoticeBox(" + std::to_string(notice) + ", " + std::to_string(*answer) + ", " +
               std::to_string(zero) + ")");
    H().notices.push_back(text ? text : "");
    if (H().noticeScript)
        H().noticeScript(answer);
    return 0;
}

// From the host's own text (set 1, Mazovia) to the system's message box
// (set 3, the Windows code page of Central Europe), in place when dst is
// src. Other sets are copied unchanged. The host has it, but lacks it by
// default (StandInHost::missing_), as the host of the tests always did.
char *__stdcall SvcConvertText(char *dst, const char *src, int32_t fromSet, int32_t toSet)
{
    H().Record("HostConvertText(" + std::to_string(fromSet) + ", " + std::to_string(toSet) + ")");
    std::string text = src;
    if (fromSet == 1 && toSet == 3) {
        std::string utf8 = MazoviaToUtf8(text);
        std::wstring wide(utf8.size() + 1, L'\0');
        int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(),
                                    static_cast<int>(wide.size()));
        text.assign(static_cast<size_t>(n > 0 ? n : 1) * 2, '\0');
        int m = WideCharToMultiByte(1250, 0, wide.c_str(), -1, text.data(),
                                    static_cast<int>(text.size()), nullptr, nullptr);
        text.resize(m > 0 ? static_cast<size_t>(m - 1) : 0);
    }
    std::memcpy(dst, text.c_str(), text.size() + 1);
    return dst;
}

} // extern "C"

void *ServiceAddress(uint32_t number)
{
    for (const Service &s : Services())
        if (s.number == number)
            return s.address;
    return nullptr;
}

} // namespace host
