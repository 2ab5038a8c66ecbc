#include "host/stand_in_host.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <type_traits>

#include "host/pe_file.h"

namespace host {
namespace {
StandInHost *current;
constexpr int16_t kSalesDocRecordLength = 298;
} // namespace

StandInHost::StandInHost(Offers offers)
    : offers_(offers), procedures_(offers == Offers::Own ? HostProcedures()
                                                         : std::map<std::string, void *>{}),
      salesRecord_(kSalesDocRecordLength)
{
    if (current)
        throw std::logic_error("one stand-in host at a time");
    current = this;
    salesDoc.recordLength = kSalesDocRecordLength;
    salesDoc.record = salesRecord_.data();
    salesDoc.handler = &OwnSalesDocHandler;
}

StandInHost::~StandInHost()
{
    Unload();
    current = nullptr;
}

StandInHost *StandInHost::Active() { return current; }

StandInHost &StandInHost::Current()
{
    if (!current)
        throw std::logic_error("no stand-in host");
    return *current;
}

LoadOptions LoadOptions::FromEnvironment()
{
    LoadOptions o;
    char value[16] = {};
    if (GetEnvironmentVariableA("TOLMAR_HOST_RELOCATE", value, sizeof value))
        o.occupyPreferredBase = std::string(value) == "1";
    if (GetEnvironmentVariableA("TOLMAR_HOST_ENV", value, sizeof value))
        o.dosExtender = std::string(value) == "dos";
    return o;
}

bool StandInHost::Load(const char *path)
{
    Unload();
    pluginFile_ = LibraryPath(path);
    loadedFile_ = pluginFile_;
    std::optional<image::PeFile> file;
    try {
        file.emplace(image::PeFile::Load(pluginFile_));
    } catch (const image::ImageError &) {
        return false; // missing, or no 32-bit PE image
    }
    preferredBase_ = file->imageBase();
    if (loadOptions.dosExtender) {
        if (!StartDosExtender() || (loadedFile_ = WriteDosCopy(*file)).empty()) {
            Unload();
            return false;
        }
    }
    if (loadOptions.occupyPreferredBase) {
        occupied_ = VirtualAlloc(reinterpret_cast<void *>(preferredBase_), file->sizeOfImage(),
                                 MEM_RESERVE, PAGE_NOACCESS);
        if (!occupied_) {
            Unload();
            return false;
        }
    }
    module_ = LoadLibraryA(loadedFile_.c_str());
    if (!module_ || (loadOptions.occupyPreferredBase && !relocated())) {
        Unload();
        return false;
    }
    entry_ = reinterpret_cast<PluginEntryFunction>(
        reinterpret_cast<void *>(GetProcAddress(module_, MAKEINTRESOURCEA(30001))));
    return entry_ != nullptr;
}

void StandInHost::Unload()
{
    if (module_)
        FreeLibrary(module_);
    module_ = nullptr;
    entry_ = nullptr;
    if (occupied_)
        VirtualFree(occupied_, 0, MEM_RELEASE);
    occupied_ = nullptr;
    EndDosExtender();
}

int32_t StandInHost::Start(char *title)
{
    return entry_(reinterpret_cast<void *>(&HostQueryCallback), title);
}

int32_t StandInHost::Stop(char *title) { return entry_(nullptr, title); }

intptr_t StandInHost::Query(int32_t code, const void *argument)
{
    auto value = reinterpret_cast<uintptr_t>(argument);
    if (code != 2) {
        Record("HostQuery(" + std::to_string(code) + ", " + std::to_string(value) + ")");
        return 0;
    }
    if (value < 0x10000) {
        Record("HostQuery(2, " + std::to_string(value) + ")");
        if (missing_.count(static_cast<uint32_t>(value)))
            return 0;
        if (auto own = serviceOverrides.find(static_cast<uint32_t>(value));
            own != serviceOverrides.end())
            return reinterpret_cast<intptr_t>(own->second);
        if (offers_ == Offers::OnlyOffered)
            return 0;
        return reinterpret_cast<intptr_t>(ServiceAddress(static_cast<uint32_t>(value)));
    }
    std::string name = static_cast<const char *>(argument);
    Record("HostQuery(2, \"" + name + "\")");
    auto found = procedures_.find(name);
    return found == procedures_.end() ? 0 : reinterpret_cast<intptr_t>(found->second);
}

int StandInHost::QueryCount(uint32_t number) const
{
    std::string line = "HostQuery(2, " + std::to_string(number) + ")";
    return static_cast<int>(std::count(trace.begin(), trace.end(), line));
}

std::vector<std::string> StandInHost::Queries() const
{
    std::vector<std::string> out;
    for (const std::string &line : trace)
        if (line.rfind("HostQuery(", 0) == 0)
            out.push_back(line);
    return out;
}

std::vector<std::string> StandInHost::NameQueries() const
{
    const std::string head = "HostQuery(2, \"", tail = "\")";
    std::vector<std::string> names;
    for (const std::string &line : trace)
        if (line.size() >= head.size() + tail.size() && line.rfind(head, 0) == 0 &&
            line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
            names.push_back(line.substr(head.size(), line.size() - head.size() - tail.size()));
    return names;
}

int32_t __stdcall StandInHost::OwnSalesDocHandler(int32_t event, int16_t editorValue,
                                                  int32_t *rowCount, uint8_t **rows, uint32_t arg5,
                                                  TableDescriptor *table, uint32_t arg7,
                                                  uint32_t arg8, uint32_t arg9, int16_t arg10,
                                                  uint32_t arg11)
{
    StandInHost &h = Current();
    h.handlerCalls.push_back(
        {event, editorValue, rowCount, rows, arg5, table, arg7, arg8, arg9, arg10, arg11});
    return h.handlerResult;
}

intptr_t __cdecl HostQueryCallback(int32_t code, const void *argument)
{
    return StandInHost::Current().Query(code, argument);
}

static_assert(std::is_same_v<decltype(&SystemMessageBox), decltype(&MessageBoxA)>,
              "the system's convention: stdcall, four arguments");
int WINAPI SystemMessageBox(HWND owner, const char *text, const char *caption, UINT style)
{
    StandInHost *h = StandInHost::Active();
    if (!h)
        return 0;
    h->systemBoxes.push_back({owner, text ? text : "", caption ? caption : "", style});
    if (h->showSystemBox)
        return h->showSystemBox(h->systemBoxes.back());
    if (h->systemBoxAnswers.empty())
        return 0;
    int answer = h->systemBoxAnswers.front();
    h->systemBoxAnswers.pop_front();
    return answer;
}

std::string LibraryPath(const std::string &name)
{
    if (name.find_first_of("\\/:") != std::string::npos)
        return name;
    char program[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string dir(program, n);
    size_t slash = dir.find_last_of("\\/");
    std::string beside = (slash == std::string::npos ? std::string() : dir.substr(0, slash + 1)) + name;
    if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES)
        return beside;
    return name;
}

} // namespace host
