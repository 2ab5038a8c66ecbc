// Every host service the plug-in declares but two, as the tests state it
// apart from the plug-in's list of them (hostapi/service_list.h): the 32-bit
// argument words its caller passes, and whether the service removes them
// (else the caller does). HostScaleAmount (52179), with its floating-point
// result, and HostCreateProcess (52005), which gets no fallback, have cases
// of their own.
#pragma once
#include <cstdint>

struct ServiceArguments {
    uint32_t number;
    uint32_t words;
    bool calleeCleans;
};

inline constexpr ServiceArguments kServiceArguments[] = {
    {21286, 2, false}, {21287, 1, false}, {52023, 4, false}, {52026, 5, false},
    {52028, 3, true},  {52029, 8, false}, {52033, 1, true},  {52064, 0, true},
    {52158, 4, true},  {52225, 5, false}, {52256, 1, true},  {52465, 2, true},
    {51425, 4, true},  {50516, 4, true},  {52286, 5, true},  {50704, 1, true},
    {52278, 6, true},  {52279, 1, true},  {52281, 1, true},  {30908, 2, true},
    {32008, 2, true},  {52332, 4, true},  {52330, 5, true},  {52470, 12, true},
};
