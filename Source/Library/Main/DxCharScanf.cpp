// The library's scanf engine. Text and format are expanded to 32-bit character codes first, so the
// directives work the same in every encoding. Floating fields are converted exactly (the nearest
// double or float to the decimal text).

#include <cstring>
#include <utility>

#include "Main/DxChar.h"
#include "Main/DxCharFormat.h"
#include "Main/DxMemory.h"

namespace ZiDaz {

namespace {

constexpr size_t kStackCodeBytes = 4096;
constexpr int kMaxFieldDigits = 255;
constexpr int kMaxSetMembers = 1024;

struct ArgList {
    va_list ap;
};

bool IsSpace(uint32_t c) {
    return c == 9 || c == 10 || c == 13 || c == 32;
}
bool IsDigit(uint32_t c) {
    return c >= '0' && c <= '9';
}

int DigitValue(uint32_t c, unsigned radix) {
    int v = -1;
    if (c >= '0' && c <= '9')
        v = static_cast<int>(c - '0');
    else if (c >= 'a' && c <= 'f')
        v = static_cast<int>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
        v = static_cast<int>(c - 'A' + 10);
    return v >= 0 && static_cast<unsigned>(v) < radix ? v : -1;
}

// Expanded 32-bit codes of a string: on the stack when small, else from the tracked allocator.
class CodeArray {
  public:
    bool Expand(const void* text, int32_t encoding) {
        int32_t bytes = ExpandToCodeArray(text, encoding, nullptr);
        if (bytes < 4) {
            stack_[0] = 0;
            codes_ = stack_;
            return true;
        }
        if (static_cast<size_t>(bytes) + 64 <= kStackCodeBytes) {
            codes_ = stack_;
        } else {
            heap_ = static_cast<uint32_t*>(DX_ALLOC(static_cast<size_t>(bytes)));
            if (heap_ == nullptr) return false;
            codes_ = heap_;
        }
        ExpandToCodeArray(text, encoding, codes_);
        return true;
    }
    ~CodeArray() {
        if (heap_ != nullptr) DX_FREE(heap_);
    }
    const uint32_t* Codes() const { return codes_; }

  private:
    uint32_t stack_[kStackCodeBytes / 4];
    uint32_t* codes_ = stack_;
    uint32_t* heap_ = nullptr;
};

// Members of a %[ set: a bitmap for codes below 256, a list for the rest.
class ScanSet {
  public:
    void Add(uint32_t code) {
        if (count_ >= kMaxSetMembers) return;
        ++count_;
        if (code < 256)
            bits_[code >> 5] |= 1u << (code & 31);
        else
            others_[others_n_++] = code;
    }
    bool Contains(uint32_t code) const {
        if (code < 256) return (bits_[code >> 5] >> (code & 31)) & 1u;
        for (int i = 0; i < others_n_; ++i)
            if (others_[i] == code) return true;
        return false;
    }

  private:
    uint32_t bits_[8] = {};
    uint32_t others_[kMaxSetMembers];
    int others_n_ = 0;
    int count_ = 0;
};

class Scanner {
  public:
    Scanner(int32_t textEncoding, bool wideCall, int32_t narrowArg, int32_t wideArg, ArgList& args)
        : textEncoding_(textEncoding),
          wideCall_(wideCall),
          narrowArg_(narrowArg),
          wideArg_(wideArg),
          args_(args) {}

    int Run(const uint32_t* f, const uint32_t* t) {
        t_ = t;
        while (*f != 0) {
            if (IsSpace(*f)) {
                while (IsSpace(*f)) ++f;
                SkipSpace();
                if (*t_ == 0) return stored_;
                continue;
            }
            if (*f == '%' && f[1] == '%') {
                MatchLiteral('%');
                f += 2;
                continue;
            }
            if (*f != '%') {
                bool matching = true;
                for (; *f != 0 && !IsSpace(*f) && *f != '%'; ++f)
                    if (matching) matching = MatchLiteral(*f);
                continue;
            }
            ++f;
            if (!Directive(f)) return stored_;
        }
        return stored_;
    }

  private:
    // Compares one text character with a literal; a mismatch consumes the text character.
    bool MatchLiteral(uint32_t code) {
        if (*t_ == 0) return false;
        return *t_++ == code;
    }

    void SkipSpace() {
        while (IsSpace(*t_)) ++t_;
    }

    int32_t ArgEncoding(bool lower) const { return lower != wideCall_ ? narrowArg_ : wideArg_; }

    // Room left in the field's width for one more character.
    bool Room() const { return width_ < 0 || used_ < width_; }
    void Take() {
        ++t_;
        ++used_;
    }

    // Returns false when the scan ends.
    bool Directive(const uint32_t*& f) {
        suppress_ = false;
        if (*f == '*') {
            suppress_ = true;
            ++f;
        }
        width_ = -1;
        used_ = 0;
        if (IsDigit(*f)) {
            uint32_t w = 0;
            while (IsDigit(*f)) w = w * 10 + (*f++ - '0');
            if (w == 0) return false;
            width_ = static_cast<int32_t>(w) < 0 ? -1 : static_cast<int32_t>(w);
        }
        int bits = 32;
        bool isDouble = false, sized = false;
        if (*f == 'h' || *f == 'H') {
            bits = 16;
            sized = true;
            ++f;
        } else if (*f == 'l' || *f == 'L') {
            isDouble = true;
            sized = true;
            ++f;
        } else if (f[0] == 'I' && f[1] == '6' && f[2] == '4') {
            bits = 64;
            sized = true;
            f += 3;
        }
        uint32_t conversion = *f;
        if (conversion == 0) return false;
        ++f;
        switch (conversion) {
            case 'd':
            case 'D':
            case 'u':
            case 'U':
                return Integer(10, false, bits);
            case 'o':
            case 'O':
                return Integer(8, false, bits);
            case 'x':
            case 'X':
                return Integer(16, false, bits);
            case 'i':
            case 'I':
                return Integer(10, true, bits);
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G':
                return Floating(isDouble);
            case 'c':
            case 'C':
                return Characters(conversion == 'c');
            case 's':
            case 'S':
                return String(conversion == 's');
            case '[':
                if (sized) return false;
                return Set(f);
            default:
                if (!suppress_) ++stored_;
                MatchLiteral(conversion);
                return true;
        }
    }

    bool Integer(unsigned radix, bool detectRadix, int bits) {
        SkipSpace();
        if (*t_ == 0) return false;
        bool negative = false;
        if (*t_ == '-') {
            negative = true;
            Take();
            if (!Room()) return false;
        }
        if (detectRadix && t_[0] == '0') {
            if (t_[1] == 'x' && (width_ < 0 || used_ + 2 <= width_)) {
                radix = 16;
                Take();
                Take();
            } else {
                radix = 8;
            }
        }
        uint8_t digits[kMaxFieldDigits];
        int count = 0;
        for (int v; count < kMaxFieldDigits && Room() && (v = DigitValue(*t_, radix)) >= 0; Take())
            digits[count++] = static_cast<uint8_t>(v);
        if (count == 0) return false;
        uint64_t value = 0, place = 1;
        for (int i = count - 1; i >= 0; --i, place *= radix) value += digits[i] * place;
        if (negative) value = 0 - value;
        if (!suppress_) {
            void* to = va_arg(args_.ap, void*);
            if (bits == 16) {
                auto v = static_cast<int16_t>(value);
                std::memcpy(to, &v, sizeof v);
            } else if (bits == 64) {
                std::memcpy(to, &value, sizeof value);
            } else {
                auto v = static_cast<int32_t>(value);
                std::memcpy(to, &v, sizeof v);
            }
            ++stored_;
        }
        return true;
    }

    // Up to 255 decimal digits into `digits` from `at`; returns how many.
    int DecimalDigits(uint8_t* digits) {
        int count = 0;
        for (; count < kMaxFieldDigits && Room() && IsDigit(*t_); Take())
            digits[count++] = static_cast<uint8_t>(*t_ - '0');
        return count;
    }

    bool Floating(bool isDouble) {
        SkipSpace();
        if (*t_ == 0) return false;
        bool negative = false;
        if (*t_ == '-') {
            negative = true;
            Take();
            if (!Room()) return false;
        }
        uint8_t digits[2 * kMaxFieldDigits];
        int integerCount = DecimalDigits(digits);
        int fractionCount = 0;
        if (Room() && *t_ == '.') {
            Take();
            fractionCount = DecimalDigits(digits + integerCount);
        }
        if (integerCount + fractionCount == 0) return false;
        int64_t exponent = 0;
        if (Room() && (*t_ == 'e' || *t_ == 'E')) {
            Take();
            bool negativeExponent = false;
            if (Room() && (*t_ == '+' || *t_ == '-')) {
                negativeExponent = *t_ == '-';
                Take();
            }
            for (int n = 0; n < kMaxFieldDigits && Room() && IsDigit(*t_); ++n, Take())
                if (exponent < 1000000000) exponent = exponent * 10 + (*t_ - '0');
            if (negativeExponent) exponent = -exponent;
        }
        double value = FormatDigits::DecimalToBinary(digits, integerCount + fractionCount,
                                                     exponent - fractionCount, !isDouble);
        if (negative) value = -value;
        if (!suppress_) {
            void* to = va_arg(args_.ap, void*);
            if (isDouble) {
                std::memcpy(to, &value, sizeof value);
            } else {
                auto v = static_cast<float>(value);
                std::memcpy(to, &v, sizeof v);
            }
            ++stored_;
        }
        return true;
    }

    // Writes one text character converted to `encoding` at `to` (when storing) if it fits in the
    // units left; returns the units written, 0 when it does not fit, -1 when it was dropped.
    int PutChar(uint32_t code, int32_t encoding, int unit, uint8_t* to, int64_t unitsLeft) {
        uint32_t converted =
            encoding == textEncoding_ ? code : TranscodeChar(code, textEncoding_, encoding);
        if (converted == 0) return -1;
        int32_t bytes = EncodeCharCode(converted, encoding, nullptr, 16);
        if (bytes <= 0) return -1;
        if (unitsLeft >= 0 && bytes / unit > unitsLeft) return 0;
        if (to != nullptr) EncodeCharCode(converted, encoding, to, bytes);
        return bytes / unit;
    }

    bool Characters(bool lower) {
        int32_t encoding = ArgEncoding(lower);
        int unit = UnitBytesOfCharCode(encoding);
        if (unit <= 0) return false;
        auto* to = suppress_ ? nullptr : static_cast<uint8_t*>(va_arg(args_.ap, void*));
        int64_t units = width_ < 0 ? 1 : width_;
        int64_t written = 0;
        while (written < units && *t_ != 0) {
            int n =
                PutChar(*t_, encoding, unit, to ? to + written * unit : nullptr, units - written);
            if (n == 0) break;
            ++t_;
            if (n > 0) written += n;
        }
        if (!suppress_) ++stored_;
        return true;
    }

    bool String(bool lower) {
        int32_t encoding = ArgEncoding(lower);
        int unit = UnitBytesOfCharCode(encoding);
        if (unit <= 0) return false;
        SkipSpace();
        if (*t_ == 0) return false;
        auto* to = suppress_ ? nullptr : static_cast<uint8_t*>(va_arg(args_.ap, void*));
        int64_t written = 0;
        while (*t_ != 0 && !IsSpace(*t_)) {
            int n = PutChar(*t_, encoding, unit, to ? to + written * unit : nullptr,
                            width_ < 0 ? -1 : width_ - written);
            if (n == 0) break;
            ++t_;
            if (n > 0) written += n;
        }
        if (to != nullptr) std::memset(to + written * unit, 0, unit);
        if (!suppress_) ++stored_;
        return true;
    }

    bool Set(const uint32_t*& f) {
        ScanSet set;
        bool negate = false;
        if (*f == '^') {
            negate = true;
            ++f;
        }
        bool havePrevious = false;
        uint32_t previous = 0;
        while (*f != ']') {
            if (*f == 0) return false;  // no closing ']': nothing is read
            if (*f == '-' && havePrevious && f[1] != ']' && f[1] != 0) {
                uint32_t low = previous & 0xFF, high = f[1] & 0xFF;
                if (high < low) std::swap(low, high);
                for (uint32_t c = low; c <= high; ++c) set.Add(c);
                f += 2;
                havePrevious = false;  // a '-' right after a range is a member
                continue;
            }
            set.Add(*f);
            previous = *f++;
            havePrevious = true;
        }
        ++f;
        SkipSpace();
        if (*t_ == 0) return false;
        auto* to = suppress_ ? nullptr : static_cast<uint8_t*>(va_arg(args_.ap, void*));
        int unit = UnitBytesOfCharCode(textEncoding_);
        size_t at = 0;
        while (*t_ != 0 && Room() && set.Contains(*t_) != negate) {
            if (to != nullptr) at += EncodeCharCode(*t_, textEncoding_, to + at, 16);
            Take();
        }
        if (to != nullptr) std::memset(to + at, 0, unit);
        if (!suppress_) ++stored_;
        return true;
    }

    int32_t textEncoding_;
    bool wideCall_;
    int32_t narrowArg_, wideArg_;
    ArgList& args_;
    const uint32_t* t_ = nullptr;
    int stored_ = 0;
    bool suppress_ = false;
    int32_t width_ = -1;
    int32_t used_ = 0;
};

}  // namespace

int ScanCodeStringV(int32_t textEncoding, int32_t wideCall, int32_t narrowArgEncoding,
                    int32_t wideArgEncoding, const void* text, const void* format, va_list args) {
    if (text == nullptr || format == nullptr || UnitBytesOfCharCode(textEncoding) <= 0) return 0;
    CodeArray textCodes, formatCodes;
    if (!textCodes.Expand(text, textEncoding) || !formatCodes.Expand(format, textEncoding))
        return 0;
    ArgList list;
    va_copy(list.ap, args);
    Scanner scanner(textEncoding, wideCall != 0, narrowArgEncoding, wideArgEncoding, list);
    int stored = scanner.Run(formatCodes.Codes(), textCodes.Codes());
    va_end(list.ap);
    return stored;
}

int ScanCodeString(int32_t textEncoding, int32_t wideCall, int32_t narrowArgEncoding,
                   int32_t wideArgEncoding, const void* text, const void* format, ...) {
    va_list args;
    va_start(args, format);
    int stored = ScanCodeStringV(textEncoding, wideCall, narrowArgEncoding, wideArgEncoding, text,
                                 format, args);
    va_end(args);
    return stored;
}

}  // namespace ZiDaz
