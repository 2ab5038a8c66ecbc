// The form services: HostRunForm runs a form of the plug-in's FormTable on
// the host's screen and keys; HostFormValue reaches a running list's row.
#include <cstdarg>
#include <string>

#include "host/forms.h"
#include "host/service_table.h"
#include "host/stand_in_host.h"

namespace host {
namespace {

StandInHost &H() { return StandInHost::Current(); }

FormEngine *running; // the innermost form being run

} // namespace

extern "C" {

// The table, the form's id, its data area, the key callback or null; a form
// with a list takes a row callback as well, which is only read then.
int16_t __cdecl SvcRunForm(const void *table, int32_t formId, void *data, FormKeyCallback onKey,
                           ...)
{
    H().Record("HostRunForm(" + std::to_string(formId) + ")");
    FormEngine engine(H().screen, H().keys);
    engine.awaitKeys = H().awaitKeys;
    if (!engine.Find(table, formId))
        return 0;
    FormRowCallback rows = nullptr;
    if (engine.HasList()) {
        va_list args;
        va_start(args, onKey);
        rows = va_arg(args, FormRowCallback);
        va_end(args);
    }
    FormEngine *outer = running;
    running = &engine;
    int16_t result = engine.Run(static_cast<char *>(data), onKey, rows);
    running = outer;
    return result;
}

// Outside a running list, and for any other id, the pointer leads to a
// spare row variable, so that writing through it harms nothing.
int16_t *__stdcall SvcFormValue(int32_t elementId)
{
    H().Record("HostFormValue(" + std::to_string(elementId) + ")");
    static int16_t spare;
    int16_t *row = running ? running->Value(elementId) : nullptr;
    if (row)
        return row;
    spare = 0;
    return &spare;
}

} // extern "C"

} // namespace host
