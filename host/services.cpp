// The numbered services of the stand-in host, each with the calling
// convention the plug-in's declarations give it: __stdcall where the service
// removes its arguments, __cdecl where the caller does.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "host/process_service.h"
#include "host/service_table.h"
#include "host/stand_in_host.h"

namespace host {
namespace {

StandInHost &H() { return StandInHost::Current(); }

std::string Str(const char *s) { return s ? std::string("\"") + s + "\"" : "null"; }

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

} // extern "C"

const Service kServices[] = {
    {52256, reinterpret_cast<void *>(&SvcGetTable)},
    {52029, reinterpret_cast<void *>(&SvcMessageBoxF)},
    {52028, reinterpret_cast<void *>(&SvcMessageBox)},
    {52225, reinterpret_cast<void *>(&SvcProfile)},
    {52023, reinterpret_cast<void *>(&SvcNoticeBox)},
    {52005, reinterpret_cast<void *>(&SvcCreateProcess)},
};

} // namespace

std::span<const Service> FrameServices() { return kServices; }

void *ServiceAddress(uint32_t number)
{
    for (auto table : {FrameServices(), FormServices(), DataServices()})
        for (const Service &s : table)
            if (s.number == number)
                return s.address;
    return nullptr;
}

} // namespace host
