#include "plugin/runtime/format.h"

#include <cstdint>

namespace {

class Sink {
public:
    Sink(char *buf, size_t cap) : buf_(buf), cap_(cap) {}
    void put(char c)
    {
        if (len_ + 1 < cap_)
            buf_[len_] = c;
        ++len_;
    }
    void fill(char c, int n)
    {
        while (n-- > 0)
            put(c);
    }
    void finish()
    {
        if (cap_ == 0)
            return;
        buf_[len_ + 1 < cap_ ? len_ : cap_ - 1] = '\0';
    }
    size_t length() const { return len_; }

private:
    char *buf_;
    size_t cap_;
    size_t len_ = 0;
};

struct FieldFormat {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    int width = 0;
    int precision = -1;
};

// Pads and writes one converted field: sign/prefix, zeros, digits.
void emit(Sink &out, const FieldFormat &field, const char *prefix, const char *body, int bodyLen,
          int zeros = 0)
{
    int prefixLen = 0;
    while (prefix[prefixLen])
        ++prefixLen;
    int total = prefixLen + zeros + bodyLen;
    int pad = field.width > total ? field.width - total : 0;
    if (field.zero && !field.left) {
        zeros += pad;
        pad = 0;
    }
    if (!field.left)
        out.fill(' ', pad);
    for (int i = 0; i < prefixLen; ++i)
        out.put(prefix[i]);
    out.fill('0', zeros);
    for (int i = 0; i < bodyLen; ++i)
        out.put(body[i]);
    if (field.left)
        out.fill(' ', pad);
}

int toDigits(uint64_t v, unsigned base, bool upper, char *end)
{
    const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    int n = 0;
    do {
        *--end = digits[v % base];
        v /= base;
        ++n;
    } while (v);
    return n;
}

void formatInteger(Sink &out, FieldFormat field, uint64_t magnitude, bool negative, unsigned base,
                   bool upper)
{
    char digits[24];
    char *end = digits + sizeof digits;
    int n = toDigits(magnitude, base, upper, end);
    if (field.precision == 0 && magnitude == 0)
        n = 0;
    int zeros = field.precision > n ? field.precision - n : 0;
    if (field.precision >= 0)
        field.zero = false;
    const char *prefix = negative ? "-" : field.plus ? "+" : field.space ? " " : "";
    if (field.alt && magnitude != 0) {
        if (base == 16)
            prefix = upper ? "0X" : "0x";
        else if (base == 8 && zeros == 0)
            zeros = 1;
    }
    emit(out, field, prefix, end - n, n, zeros);
}

// Significant digits taken from a double: one more than it carries, so
// that a value just off a rounding tie is not taken for one.
constexpr int kSig = 18;

// Writes kSig significant digits of v (finite, positive) into sig and the
// power of ten of the first into *exponent. Digits beyond these are zeros.
void decimalDigits(double v, int *exponent, char *sig)
{
    if (v == 0) {
        for (int i = 0; i < kSig; ++i)
            sig[i] = '0';
        *exponent = 0;
        return;
    }
    long double x = v;
    int e = 0;
    while (x >= 1e18L) {
        x /= 10;
        ++e;
    }
    while (x < 1e17L) {
        x *= 10;
        --e;
    }
    uint64_t whole = static_cast<uint64_t>(x + 0.5L);
    if (whole >= 1000000000000000000ULL) {
        whole /= 10;
        ++e;
    }
    for (int i = kSig - 1; i >= 0; --i) {
        sig[i] = static_cast<char>('0' + whole % 10);
        whole /= 10;
    }
    *exponent = e + kSig - 1;
}

// Keeps the first `keep` digits of sig, rounding the rest away (an exact
// tie goes to the even digit, as the C library does). Returns true when
// the rounding carried into a new leading digit.
bool roundDigits(char *sig, int keep)
{
    if (keep >= kSig)
        return false;
    if (keep < 0) {
        for (int i = 0; i < kSig; ++i)
            sig[i] = '0';
        return false;
    }
    bool up = sig[keep] > '5';
    if (sig[keep] == '5') {
        bool tie = true;
        for (int i = keep + 1; i < kSig; ++i)
            tie &= sig[i] == '0';
        up = !tie || (keep > 0 && (sig[keep - 1] - '0') % 2 == 1);
    }
    for (int i = keep; i < kSig; ++i)
        sig[i] = '0';
    for (int i = keep - 1; up && i >= 0; --i) {
        if (sig[i] == '9') {
            sig[i] = '0';
        } else {
            ++sig[i];
            up = false;
        }
    }
    if (up) { // all nines: 999.. -> 1000..
        for (int i = kSig - 1; i > 0; --i)
            sig[i] = sig[i - 1];
        sig[0] = '1';
        return true;
    }
    return false;
}

void formatFloat(Sink &out, FieldFormat field, double v, char conv)
{
    bool upper = conv == 'F' || conv == 'E' || conv == 'G';
    bool negative = __builtin_signbit(v);
    const char *sign = negative ? "-" : field.plus ? "+" : field.space ? " " : "";
    if (__builtin_isnan(v) || __builtin_isinf(v)) {
        field.zero = false;
        const char *text = __builtin_isnan(v) ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf");
        emit(out, field, sign, text, 3);
        return;
    }
    if (negative)
        v = -v;
    int precision = field.precision < 0 ? 6 : field.precision;
    char sig[kSig];
    int exp10;
    decimalDigits(v, &exp10, sig);
    bool zero = v == 0;

    char lower = static_cast<char>(conv | 0x20);
    bool strip = false;
    if (lower == 'g') {
        if (precision == 0)
            precision = 1;
        int p = precision;
        char probe[kSig];
        for (int i = 0; i < kSig; ++i)
            probe[i] = sig[i];
        int e = exp10 + (roundDigits(probe, p) ? 1 : 0);
        if (zero)
            e = 0;
        if (e < -4 || e >= p) {
            lower = 'e';
            precision = p - 1;
        } else {
            lower = 'f';
            precision = p - 1 - e;
        }
        strip = !field.alt;
    }

    // Longest field: 309 integer digits + point + precision; precision is capped.
    if (precision > 340)
        precision = 340;
    char body[720];
    int n = 0;
    if (lower == 'f') {
        if (!zero && roundDigits(sig, exp10 + 1 + precision))
            ++exp10;
        int intDigits = zero || exp10 < 0 ? 1 : exp10 + 1;
        for (int i = 0; i < intDigits; ++i) // digit i has the power exp10 - i
            body[n++] = (zero || exp10 < 0 || i >= kSig) ? '0' : sig[i];
        if (precision > 0 || field.alt)
            body[n++] = '.';
        for (int i = 1; i <= precision; ++i) {
            int idx = exp10 + i;
            body[n++] = (zero || idx < 0 || idx >= kSig) ? '0' : sig[idx];
        }
    } else {
        if (!zero && roundDigits(sig, 1 + precision))
            ++exp10;
        if (zero)
            exp10 = 0;
        body[n++] = sig[0];
        if (precision > 0 || field.alt)
            body[n++] = '.';
        for (int i = 1; i <= precision; ++i)
            body[n++] = i < kSig ? sig[i] : '0';
    }
    if (strip) {
        bool hasPoint = false;
        for (int i = 0; i < n; ++i)
            hasPoint |= body[i] == '.';
        if (hasPoint) {
            while (n > 0 && body[n - 1] == '0')
                --n;
            if (n > 0 && body[n - 1] == '.')
                --n;
        }
    }
    if (lower == 'e') {
        body[n++] = upper ? 'E' : 'e';
        int e = exp10;
        body[n++] = e < 0 ? '-' : '+';
        if (e < 0)
            e = -e;
        char ed[4];
        int m = toDigits(static_cast<uint64_t>(e), 10, false, ed + 4);
        if (m < 2)
            body[n++] = '0';
        for (int i = 4 - m; i < 4; ++i)
            body[n++] = ed[i];
    }
    emit(out, field, sign, body, n);
}

} // namespace

int FormatV(char *buf, size_t cap, const char *format, va_list args)
{
    Sink out(buf, cap);
    for (const char *p = format; *p; ++p) {
        if (*p != '%') {
            out.put(*p);
            continue;
        }
        const char *start = p++;
        FieldFormat field;
        for (;; ++p) {
            if (*p == '-')
                field.left = true;
            else if (*p == '+')
                field.plus = true;
            else if (*p == ' ')
                field.space = true;
            else if (*p == '#')
                field.alt = true;
            else if (*p == '0')
                field.zero = true;
            else
                break;
        }
        if (*p == '*') {
            field.width = va_arg(args, int);
            if (field.width < 0) {
                field.left = true;
                field.width = -field.width;
            }
            ++p;
        } else {
            while (*p >= '0' && *p <= '9')
                field.width = field.width * 10 + (*p++ - '0');
        }
        if (*p == '.') {
            ++p;
            field.precision = 0;
            if (*p == '*') {
                field.precision = va_arg(args, int);
                ++p;
            } else {
                while (*p >= '0' && *p <= '9')
                    field.precision = field.precision * 10 + (*p++ - '0');
            }
        }
        int longs = 0, shorts = 0;
        for (;; ++p) {
            if (*p == 'l')
                ++longs;
            else if (*p == 'h')
                ++shorts;
            else if (*p == 'I' && p[1] == '6' && p[2] == '4') {
                longs = 2;
                p += 2;
            } else
                break;
        }
        char conv = *p;
        switch (conv) {
        case 'd':
        case 'i': {
            int64_t v = longs >= 2 ? va_arg(args, long long)
                        : longs ? va_arg(args, long)
                                : va_arg(args, int);
            if (shorts == 1)
                v = static_cast<int16_t>(v);
            else if (shorts >= 2)
                v = static_cast<int8_t>(v);
            uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
            formatInteger(out, field, mag, v < 0, 10, false);
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            uint64_t v = longs >= 2 ? va_arg(args, unsigned long long)
                         : longs ? va_arg(args, unsigned long)
                                 : va_arg(args, unsigned);
            if (shorts == 1)
                v = static_cast<uint16_t>(v);
            else if (shorts >= 2)
                v = static_cast<uint8_t>(v);
            unsigned base = conv == 'u' ? 10 : conv == 'o' ? 8 : 16;
            formatInteger(out, field, v, false, base, conv == 'X');
            break;
        }
        case 'p': {
            field.alt = false;
            field.precision = 8;
            formatInteger(out, field, reinterpret_cast<uintptr_t>(va_arg(args, void *)), false, 16,
                          true);
            break;
        }
        case 'c': {
            char c = static_cast<char>(va_arg(args, int));
            field.zero = false;
            emit(out, field, "", &c, 1);
            break;
        }
        case 's': {
            const char *s = va_arg(args, const char *);
            if (!s)
                s = "(null)";
            int n = 0;
            while (s[n] && (field.precision < 0 || n < field.precision))
                ++n;
            field.zero = false;
            emit(out, field, "", s, n);
            break;
        }
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
            formatFloat(out, field, va_arg(args, double), conv);
            break;
        case '%':
            out.put('%');
            break;
        default: // unknown or truncated conversion: copied as it stands
            for (const char *q = start; q <= p && *q; ++q)
                out.put(*q);
            if (!*p)
                --p;
            break;
        }
    }
    out.finish();
    return static_cast<int>(out.length());
}

int FormatBounded(char *buf, size_t cap, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = FormatV(buf, cap, format, args);
    va_end(args);
    return n;
}

extern "C" int __cdecl TolmarFormat(char *buf, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = FormatV(buf, SIZE_MAX, format, args);
    va_end(args);
    return n;
}
