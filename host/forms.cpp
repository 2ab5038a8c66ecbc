// The form engine: finds a form in the plug-in's template bytes, draws it
// into the screen buffer and runs it on the scripted keys.
#include "host/forms.h"

#include <algorithm>
#include <cstring>

#include "hostapi/forms.h"

#if defined(__i386__) && defined(_WIN32)
#include "host/service_calls.h"
#endif

namespace host {
namespace {

constexpr size_t kTableLimit = 1 << 20; // no template block is larger
constexpr size_t kRowTextLimit = 1024;  // longest row text read from the plug-in
constexpr int kSlotStride = FormEditCapacity + 1;

uint16_t U16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t *p) { return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16; }

// The key a button's caption names between 0x05 and the next control byte.
uint16_t KeyNamed(std::string_view caption)
{
    size_t start = caption.find('\x05');
    if (start == std::string_view::npos)
        return 0;
    size_t end = start + 1;
    while (end < caption.size() && (caption[end] < 0x01 || caption[end] > 0x05))
        ++end;
    std::string_view name = caption.substr(start + 1, end - start - 1);
    if (name == "INSERT")
        return key::Insert;
    if (name == "ENTER")
        return key::Enter;
    if (name == "ESC")
        return key::Esc;
    if (name.size() >= 2 && name.size() <= 3 && name[0] == 'F') {
        int n = 0;
        for (char c : name.substr(1))
            n = c >= '0' && c <= '9' ? n * 10 + (c - '0') : -1;
        if (n >= 1 && n <= 10)
            return static_cast<uint16_t>(key::F1 + ((n - 1) << 8));
        if (n == 11)
            return key::F11;
        if (n == 12)
            return key::F12;
    }
    return 0;
}

std::vector<std::string_view> Split(std::string_view text)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(ColumnSeparator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

} // namespace

bool FormEngine::Find(const void *table, int32_t formId)
{
    elements_.clear();
    listIndex_ = -1;
    columnSpec_.clear();
    editCount_ = 0;
    if (!table)
        return false;
    const auto *bytes = static_cast<const uint8_t *>(table);
    size_t end = 4 + std::min<size_t>(U32(bytes), kTableLimit);

    // Reads the element at `pos` (which must end by `limit`) and moves past it.
    auto readElement = [&](size_t &pos, size_t limit, Element &out) {
        if (pos + 2 > limit)
            return false;
        bool edit = U16(bytes + pos) == FormElementEdit;
        size_t headAt = edit ? pos + offsetof(FormEditField, head) : pos;
        if (headAt + sizeof(FormElementHeader) > limit)
            return false;
        FormElementHeader head;
        std::memcpy(&head, bytes + headAt, sizeof head);
        out = {head.type, head.id, head.style, head.column, head.line, head.width, head.height,
               {}};
        size_t textAt = headAt + sizeof head;
        const void *zero = std::memchr(bytes + textAt, 0, limit - textAt);
        if (!zero)
            return false;
        size_t textEnd = static_cast<const uint8_t *>(zero) - bytes;
        out.text.assign(reinterpret_cast<const char *>(bytes + textAt), textEnd - textAt);
        pos = edit ? pos + sizeof(FormEditField) : textEnd + 1;
        return pos <= limit;
    };

    for (size_t pos = 4; pos + sizeof(FormRecordHeader) <= end;) {
        FormRecordHeader record;
        std::memcpy(&record, bytes + pos, sizeof record);
        size_t body = pos + sizeof record, bodyEnd = body + record.bodyLength;
        if (bodyEnd > end)
            return false;
        pos = bodyEnd;
        Element form;
        if (!readElement(body, bodyEnd, form) || form.type != FormElementForm ||
            form.id != static_cast<uint16_t>(formId))
            continue;
        form_ = form;
        for (int i = 0; i < record.elementCount; ++i) {
            Element e;
            if (!readElement(body, bodyEnd, e))
                break;
            if (e.type == FormElementButton)
                e.hotKey = KeyNamed(e.text);
            else if (e.type == FormElementLabel && e.id != FormNoId)
                e.hotKey = e.id;
            else if (e.type == FormElementEdit)
                e.slot = editCount_++;
            else if (e.type == FormElementList && listIndex_ < 0)
                listIndex_ = static_cast<int>(elements_.size());
            else if (e.type == FormElementTextLine && columnSpec_.empty() &&
                     e.text.find(ColumnSeparator) != std::string::npos)
                columnSpec_ = e.text;
            elements_.push_back(std::move(e));
        }
        return true;
    }
    return false;
}

int16_t FormEngine::Run(char *data, FormKeyCallback onKey, FormRowCallback rows)
{
    data_ = data;
    onKey_ = onKey;
    rows_ = HasList() ? rows : nullptr;
    texts_.assign(editCount_, {});
    for (int slot = 0; slot < editCount_ && data_; ++slot) {
        const char *at = data_ + slot * kSlotStride;
        texts_[slot].assign(at, strnlen(at, FormEditCapacity));
    }
    currentRow_ = 0;
    topRow_ = 0;
    left_ = (Screen::Width - form_.width) / 2;
    top_ = (Screen::Height - form_.height) / 2;
    focus_ = -1;
    MoveFocus(elements_.size());
    if (HasList())
        LayOutColumns(elements_[listIndex_]);
    running_ = true;

    int16_t result = FormCancelled;
    for (;;) {
        ClampRow();
        Draw();
        if (keys_.empty() && (!awaitKeys || !awaitKeys() || keys_.empty()))
            break; // nobody left to press a key: as if Esc
        uint16_t key = keys_.front();
        keys_.pop_front();
        if (key == key::Esc)
            break;
        auto button = std::find_if(elements_.begin(), elements_.end(), [&](const Element &e) {
            return e.type == FormElementButton && e.hotKey == key;
        });
        if (button != elements_.end()) {
            auto code = static_cast<int16_t>(button->id);
            if (onKey_ && CallKey(code) != 0)
                continue; // the plug-in handled it; the form stays
            result = code;
            break;
        }
        auto label = std::find_if(elements_.begin(), elements_.end(), [&](const Element &e) {
            return e.type == FormElementLabel && e.hotKey == key;
        });
        if (label != elements_.end()) {
            MoveFocus(label - elements_.begin());
            continue;
        }
        bool inEdit = focus_ >= 0 && elements_[focus_].type == FormElementEdit;
        if (focus_ >= 0 && (inEdit ? EditKey(key) : ListKey(key)))
            continue;
        if (key == key::Tab || key == key::Enter) {
            MoveFocus(focus_ < 0 ? elements_.size() : focus_);
            continue;
        }
        if (onKey_)
            CallKey(static_cast<int16_t>(key));
    }
    ClampRow();
    Draw(); // the form stays on the screen as it was left
    running_ = false;
    return result;
}

int16_t *FormEngine::Value(int32_t elementId)
{
    if (!running_ || !HasList() || elements_[listIndex_].id != static_cast<uint16_t>(elementId))
        return nullptr;
    return &currentRow_;
}

// Focus goes to the first edit field or list after element `from`, in
// template order, round to the start; `from` = size() starts at the top.
void FormEngine::MoveFocus(size_t from)
{
    size_t n = elements_.size();
    for (size_t step = 1; step <= n; ++step) {
        size_t i = (from + step) % (n + 1);
        if (i < n && (elements_[i].type == FormElementEdit ||
                      elements_[i].type == FormElementList)) {
            focus_ = static_cast<int>(i);
            return;
        }
    }
}

bool FormEngine::EditKey(uint16_t key)
{
    std::string &text = SlotText(elements_[focus_].slot);
    auto ch = static_cast<uint8_t>(key & 0xFF);
    if (key == key::Backspace) {
        if (!text.empty())
            text.pop_back();
    } else if (ch >= 0x20 && ch != 0x7F) {
        if (text.size() < static_cast<size_t>(FormEditCapacity))
            text += static_cast<char>(ch);
    } else {
        return false;
    }
    StoreSlot(elements_[focus_].slot);
    return true;
}

bool FormEngine::ListKey(uint16_t key)
{
    int count = RowCount(), page = std::max<int>(1, elements_[listIndex_].height);
    int row = currentRow_;
    switch (key) {
    case key::Up: row -= 1; break;
    case key::Down: row += 1; break;
    case key::PageUp: row -= page; break;
    case key::PageDown: row += page; break;
    case key::Home: row = 0; break;
    case key::End: row = count - 1; break;
    default: return false;
    }
    currentRow_ = static_cast<int16_t>(std::clamp(row, 0, std::max(0, count - 1)));
    return true;
}

int32_t FormEngine::RowCount()
{
    if (!rows_)
        return 0;
    auto count = static_cast<int32_t>(CallRows(-1));
    return std::clamp<int32_t>(count, 0, INT16_MAX);
}

void FormEngine::ClampRow()
{
    if (!HasList())
        return;
    int count = RowCount(), height = std::max<int>(1, elements_[listIndex_].height);
    currentRow_ = static_cast<int16_t>(std::clamp<int>(currentRow_, 0, std::max(0, count - 1)));
    if (currentRow_ < topRow_)
        topRow_ = currentRow_;
    if (currentRow_ >= topRow_ + height)
        topRow_ = currentRow_ - height + 1;
    topRow_ = std::clamp(topRow_, 0, std::max(0, count - height));
}

std::string &FormEngine::SlotText(int slot) { return texts_[slot]; }

// The text of an edit field goes to its place in the data area: at most
// FormEditCapacity characters and a terminating zero.
void FormEngine::StoreSlot(int slot)
{
    if (!data_)
        return;
    const std::string &text = texts_[slot];
    char *at = data_ + slot * kSlotStride;
    std::memcpy(at, text.data(), text.size());
    at[text.size()] = 0;
}

// Columns of the list: "l" or "p", a width (a minus sign lets the column
// give up cells when the columns are wider than the list), the heading.
// One separator cell stands between columns.
void FormEngine::LayOutColumns(const Element &list)
{
    columns_.clear();
    std::vector<bool> shrinkable;
    int total = 0;
    for (std::string_view column : Split(columnSpec_)) {
        Column c{false, 0, {}};
        size_t i = 0;
        if (i < column.size() && (column[i] == 'l' || column[i] == 'p'))
            c.right = column[i++] == 'p';
        bool minus = i < column.size() && column[i] == '-';
        if (minus)
            ++i;
        while (i < column.size() && column[i] >= '0' && column[i] <= '9' && c.width < 1000)
            c.width = c.width * 10 + (column[i++] - '0');
        c.heading = column.substr(i);
        total += c.width + (columns_.empty() ? 0 : 1);
        columns_.push_back(std::move(c));
        shrinkable.push_back(minus);
    }
    int excess = total - list.width;
    for (size_t i = 0; i < columns_.size() && excess > 0; ++i) {
        if (!shrinkable[i])
            continue;
        int give = std::min(excess, columns_[i].width - 1);
        columns_[i].width -= give;
        excess -= give;
    }
}

void FormEngine::DrawRow(int x, int y, std::string_view text, Attr attr)
{
    const Element &list = elements_[listIndex_];
    std::vector<std::string_view> fields = Split(text);
    int used = 0;
    for (size_t i = 0; i < columns_.size() && used < list.width; ++i) {
        if (i > 0) {
            screen_.Put(x + used, y, 0xB3, attr == Attr::RowCursor ? attr : Attr::Frame);
            if (++used >= list.width)
                break;
        }
        int width = std::min(columns_[i].width, list.width - used);
        std::string field(i < fields.size() ? fields[i] : std::string_view{});
        if (columns_[i].right)
            field.insert(0, "\x01p");
        screen_.Text(x + used, y, width, field, attr);
        used += width;
    }
    if (used < list.width)
        screen_.Fill(x + used, y, list.width - used, ' ', attr);
}

void FormEngine::DrawList(const Element &list)
{
    int x = left_ + list.column, y = top_ + list.line, count = RowCount();
    for (int i = 0; i < list.height; ++i) {
        int row = topRow_ + i;
        if (row >= count) {
            screen_.Fill(x, y + i, list.width, ' ', Attr::Normal);
            continue;
        }
        std::string text;
        if (auto *p = reinterpret_cast<const char *>(CallRows(static_cast<int16_t>(row))))
            text.assign(p, strnlen(p, kRowTextLimit));
        DrawRow(x, y + i, text, row == currentRow_ ? Attr::RowCursor : Attr::Normal);
    }
}

void FormEngine::Draw()
{
    for (int line = 1; line < form_.height - 1; ++line)
        screen_.Fill(left_ + 1, top_ + line, form_.width - 2, ' ', Attr::Normal);
    screen_.Frame(left_, top_, form_.width, form_.height, true, Attr::Frame);
    if (!form_.text.empty()) {
        std::string title = " " + form_.text + " ";
        int width = std::min(Screen::VisibleWidth(title), form_.width - 2);
        screen_.Text(left_ + (form_.width - width) / 2, top_, width, title, Attr::Title);
    }
    for (size_t i = 0; i < elements_.size(); ++i) {
        const Element &e = elements_[i];
        int x = left_ + e.column, y = top_ + e.line;
        switch (e.type) {
        case FormElementBox:
            screen_.Frame(x, y, e.width, e.height, false, Attr::Frame);
            break;
        case FormElementEdit: {
            Attr attr = static_cast<int>(i) == focus_ ? Attr::FieldFocus : Attr::Field;
            screen_.Fill(x, y, e.width, ' ', attr);
            const std::string &text = texts_[e.slot];
            for (size_t c = 0; c < text.size() && static_cast<int>(c) < e.width; ++c)
                screen_.Put(x + static_cast<int>(c), y, static_cast<uint8_t>(text[c]), attr);
            break;
        }
        case FormElementList:
            if (static_cast<int>(i) == listIndex_)
                DrawList(e);
            break;
        case FormElementTextLine:
            if (HasList() && e.text == columnSpec_) {
                std::string headings;
                for (const Column &c : columns_)
                    headings += c.heading + ColumnSeparator;
                DrawRow(x, y, headings, Attr::Normal);
                break;
            }
            [[fallthrough]];
        default:
            screen_.Text(x, y, e.width, e.text);
            break;
        }
    }
}

int16_t FormEngine::CallKey(int16_t key)
{
#if defined(__i386__) && defined(_WIN32)
    return static_cast<int16_t>(CheckedCallback(reinterpret_cast<const void *>(onKey_), key,
                                                "the form's key callback"));
#else
    return onKey_(key, 0);
#endif
}

intptr_t FormEngine::CallRows(int16_t row)
{
#if defined(__i386__) && defined(_WIN32)
    return CheckedCallback(reinterpret_cast<const void *>(rows_), row, "the list's row callback");
#else
    return rows_(row, 0);
#endif
}

} // namespace host
