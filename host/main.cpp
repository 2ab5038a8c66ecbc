// The stand-in host as a program: loads Tolmar.dll, starts it, raises one
// ordinary event of the sales-document table, stops it, and tells what the
// plug-in did.
#include <cstdio>
#include <cstring>

#include "host/mazovia.h"
#include "host/stand_in_host.h"

namespace {

const char *hookState(const host::StandInHost &h)
{
    return h.salesDoc.handler == &host::StandInHost::OwnSalesDocHandler ? "host's own handler"
                                                                        : "plug-in's handler";
}

} // namespace

int main(int argc, char **argv)
{
    const char *dll = "Tolmar.dll";
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--dll") == 0 && i + 1 < argc)
            dll = argv[++i];

    host::StandInHost h;
    if (!h.Load(dll)) {
        std::printf("cannot load %s or find its ordinal 30001\n", dll);
        return 1;
    }
    char title[64] = {};
    int32_t started = h.Start(title);
    std::printf("start: %d\n", started);
    std::printf("title: %s\n", host::MazoviaToUtf8(title).c_str());
    for (const std::string &notice : h.notices)
        std::printf("notice: %s\n", host::MazoviaToUtf8(notice).c_str());
    std::printf("table 45 handler: %s\n", hookState(h));

    int32_t rows = 0;
    int32_t result = h.salesDoc.handler(7, 1, &rows, nullptr, 0, &h.salesDoc, 0, 0, 0, 0, 0);
    std::printf("event 7 -> %d, host's handler saw %zu call(s)\n", result, h.handlerCalls.size());

    std::printf("stop: %d\n", h.Stop());
    std::printf("table 45 handler: %s\n", hookState(h));
    for (const host::Message &m : h.messages)
        std::printf("message [%s] style %d:\n%s\n", host::MazoviaToUtf8(m.title).c_str(), m.style,
                    host::MazoviaToUtf8(m.text).c_str());
    std::printf("host services called:\n");
    for (const std::string &line : h.trace)
        std::printf("  %s\n", line.c_str());
    return started == 0 ? 0 : 2;
}
