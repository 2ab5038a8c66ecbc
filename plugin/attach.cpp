#include "plugin/attach.h"

#include "mmimport/command.h"
#include "plugin/host_services.h"
#include "plugin/plugin.h"
#include "plugin/runtime/format.h"

TableDescriptor *HookedTable;
TableHandler SavedTableHandler;

namespace {
constexpr char kSection[] = "Tolmar";
constexpr char kAskKey[] = "Pytaj";
constexpr char kIntFormat[] = "%d";
constexpr int32_t kNoticeNumber = 1194;
// The table's name, the plug-in's version of it, the host's, and the
// plug-in's title; each name between highlight on (0x02) and off (0x01).
MAZOVIA_TEXT(kVersionError, "Wersje tabeli \x02%s\x01 w programie i we wtyczce\n"
                            "nie pasują do siebie (WT:%d, ZQ:%d)!\n\n\n"
                            "Wtyczka \x02%s\x01\nNIE zostanie załadowana!");
} // namespace

int32_t AttachToHost()
{
    if (HookedTable)
        return 0;
    TableDescriptor *table = HostGetTable(SalesDocTableId);
    if (!table)
        return -1; // nothing to show: the host has no such table at all
    if (table->recordLength != SalesDocTableVersion)
        return TableVersionError("tabTspr_dok", SalesDocTableVersion, table->recordLength);
    SavedTableHandler = table->handler;
    table->handler = SalesDocHandler;
    HookedTable = table;
    return 0;
}

int32_t DetachFromHost()
{
    if (!HookedTable)
        return 0;
    HookedTable->handler = SavedTableHandler;
    HookedTable = nullptr;
    return 0;
}

int32_t TableVersionError(const char *tableName, int32_t expected, int32_t found)
{
    char title[sizeof PluginTitle];
    CopyPluginTitle(title);
    HostMessageBoxF("STOP!", kVersionError, 1, tableName, expected, found, title);
    return -1;
}

int32_t InstallNotice()
{
    // Room for the host's widest "%d" value; only the low 16 bits count.
    int32_t stored = 0;
    if (HostProfile(1, kSection, kAskKey, kIntFormat, &stored) != 0)
        stored = 0;
    int16_t answer = static_cast<int16_t>(stored);
    if (answer != 0)
        return 0;
    char text[64];
    FormatBounded(text, sizeof text, "Zainstalowano: %s", PluginTitle.bytes);
    HostNoticeBox(kNoticeNumber, &answer, 0, text);
    HostProfile(2, kSection, kAskKey, kIntFormat, static_cast<int32_t>(answer));
    return 0;
}

extern "C" int32_t __stdcall SalesDocHandler(int32_t event, int16_t editorValue, int32_t *rowCount,
                                             uint8_t **rows, uint32_t arg5, TableDescriptor *table,
                                             uint32_t arg7, uint32_t arg8, uint32_t arg9,
                                             int16_t arg10, uint32_t arg11)
{
    if (event == MmImportEvent) {
        int32_t result = 0;
        if (!RunMmImportCommand(editorValue, rowCount, rows, table, arg8, &result))
            return result;
    }
    return SavedTableHandler(event, editorValue, rowCount, rows, arg5, table, arg7, arg8, arg9,
                             arg10, arg11);
}
