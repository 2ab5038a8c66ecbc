// The host's form template format: what its form engine reads from a
// plug-in's block of templates, handed over whole to HostRunForm together
// with the id of the form to run, and the codes a running form exchanges
// with the plug-in.
//
// Layout (all numbers little-endian):
//   FormTable    = u32 length of the records that follow, then the records
//   FormRecord   = u16 body length, u16 element count, body
//   body         = the form element, then the elements back to back
//   element      = FormElementHeader, zero-terminated text
//   edit field   = FormEditField (fixed 43 bytes)
#pragma once
#include <cstddef>
#include <cstdint>

// Codes that HostRunForm and the list's callbacks exchange.
constexpr int16_t FormConfirmed = 0x5001; // a form left with its F12 OK button
constexpr int16_t InsertKey = 0x5200;     // the Insert key, and the id of the Insert button
constexpr int16_t F3Key = 0x3D00;
constexpr int16_t F4Key = 0x3E00;

// Element types.
constexpr uint16_t FormElementForm = 0xFFFF;
constexpr uint16_t FormElementButton = 0;
constexpr uint16_t FormElementLabel = 3;
constexpr uint16_t FormElementTextLine = 4;
constexpr uint16_t FormElementEdit = 5;
constexpr uint16_t FormElementList = 6;
constexpr uint16_t FormElementBox = 7;

constexpr uint16_t FormNoId = 0xFFFF;

// Form texts may hold control bytes, which take no cell on screen: 0x01
// back to normal (at the start, with c or p, the placement), 0x02 the
// highlight of hot-key names in labels, 0x05 that of key names in buttons,
// 0x03 and 0x04 two further attributes.

// Between the column descriptions of a ColumnSpec, and the fields of a row.
constexpr char ColumnSeparator = 0x0D;

#pragma pack(push, 1)

struct FormRecordHeader {
    uint16_t bodyLength;   // bytes of the body, this header not counted
    uint16_t elementCount; // elements after the form element
};
static_assert(sizeof(FormRecordHeader) == 4);

// Every element but the edit field; the zero-terminated text follows.
struct FormElementHeader {
    uint16_t type;
    uint16_t id;       // form id, button code, hot key, or FormNoId
    uint32_t style;
    int16_t column;    // from the form's left edge
    int16_t line;      // from the form's top edge
    int16_t width;     // cells
    int16_t height;    // lines
    uint32_t reserved;
};
static_assert(offsetof(FormElementHeader, type) == 0);
static_assert(offsetof(FormElementHeader, id) == 2);
static_assert(offsetof(FormElementHeader, style) == 4);
static_assert(offsetof(FormElementHeader, column) == 8);
static_assert(offsetof(FormElementHeader, line) == 10);
static_assert(offsetof(FormElementHeader, width) == 12);
static_assert(offsetof(FormElementHeader, height) == 14);
static_assert(offsetof(FormElementHeader, reserved) == 16);
static_assert(sizeof(FormElementHeader) == 20);

// An edit field: a fixed 43-byte element holding up to 8 characters.
struct FormEditField {
    uint16_t type;          // FormElementEdit
    uint16_t size;          // 38
    FormElementHeader head; // type 5, no id, style 0x400, line 2, 13 x 1
    char text[1];           // empty
    uint8_t tail[18];
};
static_assert(offsetof(FormEditField, head) == 4);
static_assert(offsetof(FormEditField, tail) == 25);
static_assert(sizeof(FormEditField) == 43);

#pragma pack(pop)

constexpr int FormEditCapacity = 8; // characters an edit field takes
