// Times the MM-to-sales command in the stand-in host: collecting and sorting
// many MM documents in the date range, and placing many items into as many
// free rows. Prints each figure and how it grows with the size.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "host/forms.h"
#include "host/stand_in_host.h"

namespace {

namespace key = host::key;
using HeapMode = host::HostData::HeapMode;

struct Timing {
    double seconds;
    bool ok;
    double collect = 0; // the parts of a collect-and-sort run
    double sort = 0;
};

void Dates(host::StandInHost &h)
{
    h.Type("01.01.00");
    h.keys.push_back(key::Tab);
    h.Type("31.12.30");
    h.keys.push_back(key::F12);
}

double RaiseTimed(host::StandInHost &h)
{
    auto start = std::chrono::steady_clock::now();
    h.salesDoc.handler(234, 0, &h.data.rowCount, h.data.rows.data(), 0, &h.salesDoc, 0, 0, 0, 0, 0);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// n MM documents in the range, in no order of date; the list is left as
// soon as it waits for a key. The wait message that the sort runs under and
// the list's first wait for a key split the time: collecting before the
// message, sorting between the two.
Timing CollectAndSort(int n, HeapMode heap)
{
    host::StandInHost h;
    if (!h.Load() || h.Start(nullptr) != 0)
        return {0, false};
    h.data.heapMode = heap;
    uint32_t seed = 12345;
    for (int i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        char date[16];
        std::snprintf(date, sizeof date, "%04u%02u%02u", 2000 + (seed >> 8) % 25,
                      1 + (seed >> 13) % 12, 1 + (seed >> 18) % 28);
        h.data.AddHeader({i + 1, date, std::string("MM/").append(std::to_string(i + 1)), "Opis", 10000, 1, 1});
    }
    h.data.SetRows(1);
    Dates(h);

    using Clock = std::chrono::steady_clock;
    Clock::time_point sortStart{}, listShown{};
    int collectCompares = 0;
    h.showMessage = [&](const host::Message &m) {
        if (m.style == 0x200) {
            sortStart = Clock::now();
            collectCompares = h.data.compareCalls;
        }
    };
    h.awaitKeys = [&] {
        if (listShown == Clock::time_point{}) {
            listShown = Clock::now();
            h.keys.push_back(key::Esc);
        }
        return true;
    };
    auto start = Clock::now();
    double seconds = RaiseTimed(h);
    bool ok = h.data.Held().empty() && h.data.scanNextCalls == n + 1 &&
              sortStart != Clock::time_point{} && listShown != Clock::time_point{};
    auto secs = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double>(b - a).count();
    };
    std::printf("  %7d documents: %8.3f s in all; collect %8.3f s, sort %8.3f s\n", n, seconds,
                secs(start, sortStart), secs(sortStart, listShown));
    std::printf("  %7s            %d date comparisons collecting, %d sorting (%.2f n log2 n); "
                "%d growths, %d moved, %llu bytes copied\n",
                "", collectCompares, h.data.compareCalls - collectCompares,
                (h.data.compareCalls - collectCompares) / (n * std::log2(n)),
                h.data.reallocCalls, h.data.reallocMovedBlocks,
                static_cast<unsigned long long>(h.data.reallocCopiedBytes));
    h.Stop();
    return {seconds, ok, secs(start, sortStart), secs(sortStart, listShown)};
}

// One marked document with n items, placed into a document of n free rows.
Timing Insert(int n, HeapMode heap)
{
    host::StandInHost h;
    if (!h.Load() || h.Start(nullptr) != 0)
        return {0, false};
    h.data.heapMode = heap;
    h.data.AddHeader({1, "20240105", "MM/1", "Opis", 10000, 1, 1});
    for (int i = 0; i < n; ++i)
        h.data.AddItem({.docKey = 1, .longText = std::string("Pozycja ").append(std::to_string(i)), .presence = 1});
    h.data.SetRows(n);
    Dates(h);
    h.keys.push_back(key::Insert);
    h.keys.push_back(key::F12);
    double seconds = RaiseTimed(h);
    bool ok = h.data.Held().empty() && h.data.Row(n - 1).presence == 1;
    std::printf("  insert %7d items into %7d free rows: %9.3f s; %d growths, %d moved, %llu bytes copied\n",
                n, n, seconds, h.data.reallocCalls, h.data.reallocMovedBlocks,
                static_cast<unsigned long long>(h.data.reallocCopiedBytes));
    h.Stop();
    return {seconds, ok};
}

void Ratio(const char *what, Timing small, Timing large, double sizeRatio)
{
    if (!small.ok || !large.ok || small.seconds <= 0) {
        std::printf("  %s: no ratio (a run failed)\n", what);
        return;
    }
    std::printf("  %s: %.1f times the time for %.0f times the size\n", what,
                large.seconds / small.seconds, sizeRatio);
}

} // namespace

int main()
{
    const struct {
        HeapMode mode;
        const char *name;
    } heaps[] = {
        {HeapMode::ProcessHeap, "the process's heap (moves a large block when it must grow past its space)"},
        {HeapMode::InPlace, "a heap that grows large blocks in place"},
    };
    std::printf("(n log n grows %.1f times from 10,000 to 100,000)\n",
                100000 * std::log2(100000.0) / (10000 * std::log2(10000.0)));
    bool ok = true;
    for (const auto &heap : heaps) {
        std::printf("With %s\n", heap.name);
        std::printf("MM documents in the date range:\n");
        Timing c10k = CollectAndSort(10000, heap.mode);
        Timing c100k = CollectAndSort(100000, heap.mode);
        Ratio("collect and sort", c10k, c100k, 10);
        Ratio("  collect alone", {c10k.collect, c10k.ok}, {c100k.collect, c100k.ok}, 10);
        Ratio("  sort alone", {c10k.sort, c10k.ok}, {c100k.sort, c100k.ok}, 10);

        std::printf("Items of one marked document:\n");
        Timing i1k = Insert(1000, heap.mode);
        Timing i10k = Insert(10000, heap.mode);
        Ratio("insert", i1k, i10k, 10);
        ok = ok && c10k.ok && c100k.ok && i1k.ok && i10k.ok;
    }
    return ok ? 0 : 1;
}
