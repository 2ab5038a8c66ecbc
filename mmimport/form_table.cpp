// The form templates as data. Each record is a packed structure whose
// members are the elements in the order the host reads them; every text
// array is sized to its text and terminating zero, so the structure sizes
// are the body lengths the host walks by.
#include "mmimport/form_table.h"

#include "hostapi/mazovia.h"

namespace {

#pragma pack(push, 1)

template <size_t TextBytes>
struct Element {
    FormElementHeader head;
    char text[TextBytes];
};

// An element whose text array is exactly its text and terminating zero: a
// text of another length than the record declares does not compile. The
// text is UTF-8, turned into Mazovia; the control bytes stay as they are.
template <size_t TextBytes>
constexpr Element<TextBytes> Make(FormElementHeader head, const mazovia::Text<TextBytes> &text)
{
    Element<TextBytes> element{head, {}};
    for (size_t i = 0; i < TextBytes; ++i)
        element.text[i] = text.bytes[i];
    return element;
}

// The edit fields of the date dialog differ only in their column.
constexpr FormEditField DateEdit(int16_t column)
{
    return {FormElementEdit,
            38,
            {FormElementEdit, FormNoId, 0x400, column, 2, 13, 1, 0},
            "",
            {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x08, 0x02, 0x02, 0x00, 0x08,
             0x00, 0x01, 0x00, 0x00}};
}

struct ProcessingFormRecord {
    FormRecordHeader header;
    Element<14> form; // "Przetwarzanie"
    Element<1> box;
    Element<45> line; // 40 digits and 4 control bytes
};
constexpr uint16_t ProcessingFormBody = 120;
static_assert(sizeof(ProcessingFormRecord) == sizeof(FormRecordHeader) + ProcessingFormBody);
static_assert(sizeof(ProcessingFormRecord) == 124);

struct DateRangeFormRecord {
    FormRecordHeader header;
    Element<47> form;
    Element<17> fromLabel;
    FormEditField fromEdit;
    Element<17> toLabel;
    FormEditField toEdit;
    Element<9> okButton;
};
constexpr uint16_t DateRangeFormBody = 256;
static_assert(sizeof(DateRangeFormRecord) == sizeof(FormRecordHeader) + DateRangeFormBody);
static_assert(sizeof(DateRangeFormRecord) == 260);

struct MmListFormRecord {
    FormRecordHeader header;
    Element<21> form;
    Element<57> columns; // ColumnSpec
    Element<18> label;
    Element<1> list;
    Element<28> insertButton;
    Element<9> okButton;
};
constexpr uint16_t MmListFormBody = 254;
static_assert(sizeof(MmListFormRecord) == sizeof(FormRecordHeader) + MmListFormBody);
static_assert(sizeof(MmListFormRecord) == 258);

struct FormTableLayout {
    uint32_t recordBytes;
    ProcessingFormRecord processing;
    DateRangeFormRecord dateRange;
    MmListFormRecord mmList;
};
constexpr uint32_t FormRecordBytes = 642;
static_assert(offsetof(FormTableLayout, processing) == 4);
static_assert(offsetof(FormTableLayout, dateRange) == 128);
static_assert(offsetof(FormTableLayout, mmList) == 388);
static_assert(sizeof(FormTableLayout) - sizeof(uint32_t) == FormRecordBytes);
static_assert(sizeof(FormTableLayout) == FormTableSize);

#pragma pack(pop)

} // namespace

// The one object; FormTable below is its byte view.
extern "C" constinit const FormTableLayout TolmarFormTableData = {
    FormRecordBytes,
    {
        {ProcessingFormBody, 2},
        Make({FormElementForm, ProcessingFormId, 0x4008, 0, 0, 48, 5, 0},
             MAZOVIA("Przetwarzanie")),
        Make({FormElementBox, FormNoId, 0, 3, 1, 42, 3, 3}, MAZOVIA("")),
        Make({FormElementTextLine, 0x4003, 0, 4, 2, 40, 1, 0},
             MAZOVIA("1234567890\x05"
                     "1234567890\x02"
                     "12345\x03"
                     "67890\x04"
                     "1234567890")),
    },
    {
        {DateRangeFormBody, 5},
        Make({FormElementForm, DateRangeFormId, 0x200, 0, 0, 61, 7, 0},
             MAZOVIA("Podaj daty (wystawienia) graniczne dla dok. MM")),
        Make({FormElementLabel, static_cast<uint16_t>(F3Key), 0, 1, 2, 13, 1, 0},
             MAZOVIA("\x01p\x02"
                     "F3\x01 Okres Od\x01")),
        DateEdit(17),
        Make({FormElementLabel, static_cast<uint16_t>(F4Key), 0, 31, 2, 13, 1, 0},
             MAZOVIA("\x01p\x02"
                     "F4\x01 Okres Do\x01")),
        DateEdit(45),
        Make({FormElementButton, static_cast<uint16_t>(FormConfirmed), 0x55000004, 25, 4, 10, 1, 0},
             MAZOVIA("\x05"
                     "F12\x01 OK")),
    },
    {
        {MmListFormBody, 5},
        Make({FormElementForm, MmListFormId, 0x200, 0, 0, 78, 18, 0},
             MAZOVIA("Wybierz dokumenty MM")),
        Make({FormElementTextLine, 0x5801, 0, 2, 3, 74, 1, 0},
             MAZOVIA("l3\r"
                     "l17Numer MM\r"
                     "l-30Opis\r"
                     "p15Wartość zak.br.\r"
                     "l12Data wyst.")),
        Make({FormElementLabel, FormNoId, 0x3D000000, 2, 2, 20, 1, 0},
             MAZOVIA("\x02"
                     "F3\x01 Dokumenty MM")),
        Make({FormElementList, static_cast<uint16_t>(MmListElementId), 0x408, 2, 4, 74, 9, 0},
             MAZOVIA("")),
        Make({FormElementButton, static_cast<uint16_t>(InsertKey), 0x80, 2, 13, 26, 1, 0},
             MAZOVIA("\x01"
                     "c\x05"
                     "INSERT\x01 Zaznacz/Odznacz\x01")),
        Make({FormElementButton, static_cast<uint16_t>(FormConfirmed), 0x55000100, 30, 15, 16, 1,
              0},
             MAZOVIA("\x05"
                     "F12\x01 OK")),
    },
};

extern "C" const unsigned char FormTable[FormTableSize]
    __attribute__((alias("TolmarFormTableData")));
