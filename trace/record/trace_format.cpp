#include "q7m/trace/trace_format.h"

#include <sys/types.h>
#include <cstdint>
#include <cstring>
#include <cwchar>

namespace q7m::trace {

namespace {

// Collects output up to a fixed limit; everything past it is dropped.
class BoundedSink {
 public:
  BoundedSink(char* out, size_t limit) : out_(out), limit_(limit) {}
  void Put(char c) {
    if (length_ < limit_) out_[length_++] = c;
  }
  void Repeat(char c, size_t count) {
    size_t n = count < limit_ - length_ ? count : limit_ - length_;
    std::memset(out_ + length_, c, n);
    length_ += n;
  }
  void Write(const char* text, size_t count) {
    size_t n = count < limit_ - length_ ? count : limit_ - length_;
    std::memcpy(out_ + length_, text, n);
    length_ += n;
  }
  size_t length() const { return length_; }

 private:
  char* out_;
  size_t limit_;
  size_t length_ = 0;
};

enum class Length { kNone, kChar, kShort, kLong, kLongLong, kIntMax, kSize, kPtrDiff, kWide };

struct Directive {
  bool leftAlign = false;
  bool plusSign = false;
  bool spaceSign = false;
  bool alternate = false;
  bool zeroPad = false;
  size_t width = 0;
  bool hasPrecision = false;
  size_t precision = 0;
  Length length = Length::kNone;
  bool longDouble = false;
};

// Widths and precisions beyond the output limit cannot change the visible
// result, so they are clamped before they can overflow anything.
size_t Clamp(uint64_t value) {
  return value > kMaxFormattedLength ? kMaxFormattedLength : static_cast<size_t>(value);
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

uint64_t ReadNumber(const char*& p) {
  uint64_t v = 0;
  while (IsDigit(*p)) {
    if (v <= kMaxFormattedLength) v = v * 10 + static_cast<uint64_t>(*p - '0');
    ++p;
  }
  return v;
}

void PadTo(BoundedSink& sink, size_t used, size_t width) {
  if (width > used) sink.Repeat(' ', width - used);
}

void EmitText(BoundedSink& sink, const Directive& d, const char* text, size_t count) {
  if (!d.leftAlign) PadTo(sink, count, d.width);
  sink.Write(text, count);
  if (d.leftAlign) PadTo(sink, count, d.width);
}

void EmitInteger(BoundedSink& sink, const Directive& d, uint64_t magnitude, bool negative,
                 unsigned base, bool upper) {
  const char* digitSet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[24];
  size_t count = 0;
  for (uint64_t v = magnitude; v != 0; v /= base) digits[count++] = digitSet[v % base];
  // An explicit precision of 0 prints no digits for the value 0.
  if (magnitude == 0 && !(d.hasPrecision && d.precision == 0)) digits[count++] = '0';

  size_t zeros = d.hasPrecision && d.precision > count ? d.precision - count : 0;
  if (base == 8 && d.alternate && zeros == 0 && (count == 0 || digits[count - 1] != '0')) {
    zeros = 1;
  }
  char prefix[2];
  size_t prefixLength = 0;
  if (base == 10) {
    if (negative) {
      prefix[prefixLength++] = '-';
    } else if (d.plusSign) {
      prefix[prefixLength++] = '+';
    } else if (d.spaceSign) {
      prefix[prefixLength++] = ' ';
    }
  } else if (base == 16 && d.alternate && magnitude != 0) {
    prefix[prefixLength++] = '0';
    prefix[prefixLength++] = upper ? 'X' : 'x';
  }
  size_t used = prefixLength + zeros + count;
  if (d.zeroPad && !d.leftAlign && !d.hasPrecision && d.width > used) {
    zeros += d.width - used;
    used = d.width;
  }
  if (!d.leftAlign) PadTo(sink, used, d.width);
  sink.Write(prefix, prefixLength);
  sink.Repeat('0', zeros);
  while (count > 0) sink.Put(digits[--count]);
  if (d.leftAlign) PadTo(sink, used, d.width);
}

int64_t TakeSigned(const Directive& d, va_list& args) {
  switch (d.length) {
    case Length::kChar:
      return static_cast<signed char>(va_arg(args, int));
    case Length::kShort:
      return static_cast<short>(va_arg(args, int));
    case Length::kLong:
      return va_arg(args, long);
    case Length::kLongLong:
      return va_arg(args, long long);
    case Length::kIntMax:
      return va_arg(args, intmax_t);
    case Length::kSize:
      return va_arg(args, ssize_t);
    case Length::kPtrDiff:
      return va_arg(args, ptrdiff_t);
    default:
      return va_arg(args, int);
  }
}

uint64_t TakeUnsigned(const Directive& d, va_list& args) {
  switch (d.length) {
    case Length::kChar:
      return static_cast<unsigned char>(va_arg(args, unsigned int));
    case Length::kShort:
      return static_cast<unsigned short>(va_arg(args, unsigned int));
    case Length::kLong:
      return va_arg(args, unsigned long);
    case Length::kLongLong:
      return va_arg(args, unsigned long long);
    case Length::kIntMax:
      return va_arg(args, uintmax_t);
    case Length::kSize:
      return va_arg(args, size_t);
    case Length::kPtrDiff:
      return static_cast<uint64_t>(va_arg(args, ptrdiff_t));
    default:
      return va_arg(args, unsigned int);
  }
}

// A wide character in single-byte text: Latin-1 passes, the rest shows as '?'.
char NarrowChar(wint_t c) {
  return c <= 0xFF ? static_cast<char>(c) : '?';
}

void EmitWideString(BoundedSink& sink, const Directive& d, const wchar_t* text) {
  if (text == nullptr) {
    EmitText(sink, d, "(null)", d.hasPrecision && d.precision < 6 ? d.precision : 6);
    return;
  }
  size_t count = 0;
  size_t limit = d.hasPrecision ? d.precision : kMaxFormattedLength;
  while (count < limit && text[count] != 0) ++count;
  if (!d.leftAlign) PadTo(sink, count, d.width);
  for (size_t i = 0; i < count; ++i) sink.Put(NarrowChar(static_cast<wint_t>(text[i])));
  if (d.leftAlign) PadTo(sink, count, d.width);
}

void EmitString(BoundedSink& sink, const Directive& d, const char* text) {
  if (text == nullptr) {
    EmitText(sink, d, "(null)", d.hasPrecision && d.precision < 6 ? d.precision : 6);
    return;
  }
  // The precision bounds the read: the text need not be terminated then.
  size_t limit = d.hasPrecision ? d.precision : kMaxFormattedLength;
  EmitText(sink, d, text, strnlen(text, limit));
}

// Parses flags, width, precision and length after the '%'. `p` ends on the
// conversion character.
Directive ParseDirective(const char*& p, va_list& args) {
  Directive d;
  for (;; ++p) {
    if (*p == '-') {
      d.leftAlign = true;
    } else if (*p == '+') {
      d.plusSign = true;
    } else if (*p == ' ') {
      d.spaceSign = true;
    } else if (*p == '#') {
      d.alternate = true;
    } else if (*p == '0') {
      d.zeroPad = true;
    } else {
      break;
    }
  }
  if (*p == '*') {
    ++p;
    int w = va_arg(args, int);
    if (w < 0) {
      d.leftAlign = true;
      d.width = Clamp(-static_cast<int64_t>(w));
    } else {
      d.width = Clamp(static_cast<uint64_t>(w));
    }
  } else {
    d.width = Clamp(ReadNumber(p));
  }
  if (*p == '.') {
    ++p;
    d.hasPrecision = true;
    if (*p == '*') {
      ++p;
      int prec = va_arg(args, int);
      if (prec < 0) {
        d.hasPrecision = false;
      } else {
        d.precision = Clamp(static_cast<uint64_t>(prec));
      }
    } else {
      d.precision = Clamp(ReadNumber(p));
    }
  }
  switch (*p) {
    case 'h':
      ++p;
      d.length = Length::kShort;
      if (*p == 'h') {
        ++p;
        d.length = Length::kChar;
      }
      break;
    case 'l':
      ++p;
      d.length = Length::kLong;
      if (*p == 'l') {
        ++p;
        d.length = Length::kLongLong;
      }
      break;
    case 'q':
      ++p;
      d.length = Length::kLongLong;
      break;
    case 'L':
      ++p;
      d.length = Length::kLongLong;
      d.longDouble = true;
      break;
    case 'j':
      ++p;
      d.length = Length::kIntMax;
      break;
    case 'z':
    case 'Z':
      ++p;
      d.length = Length::kSize;
      break;
    case 't':
      ++p;
      d.length = Length::kPtrDiff;
      break;
    case 'w':
      ++p;
      d.length = Length::kWide;
      break;
    default:
      break;
  }
  return d;
}

void FormatInto(BoundedSink& sink, const char* format, va_list& args) {
  const char* p = format;
  while (*p != 0) {
    if (*p != '%') {
      const char* next = std::strchr(p, '%');
      size_t run = next ? static_cast<size_t>(next - p) : std::strlen(p);
      sink.Write(p, run);
      p += run;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      sink.Put('%');
      ++p;
      continue;
    }
    Directive d = ParseDirective(p, args);
    bool wide = d.length == Length::kLong || d.length == Length::kWide;
    switch (*p) {
      case 'd':
      case 'i': {
        int64_t v = TakeSigned(d, args);
        uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        EmitInteger(sink, d, magnitude, v < 0, 10, false);
        break;
      }
      case 'u':
        EmitInteger(sink, d, TakeUnsigned(d, args), false, 10, false);
        break;
      case 'x':
      case 'X':
        EmitInteger(sink, d, TakeUnsigned(d, args), false, 16, *p == 'X');
        break;
      case 'o':
        EmitInteger(sink, d, TakeUnsigned(d, args), false, 8, false);
        break;
      case 'c':
      case 'C': {
        char c = wide || *p == 'C' ? NarrowChar(va_arg(args, wint_t))
                                   : static_cast<char>(va_arg(args, int));
        EmitText(sink, d, &c, 1);
        break;
      }
      case 's':
        if (wide) {
          EmitWideString(sink, d, va_arg(args, const wchar_t*));
        } else {
          EmitString(sink, d, va_arg(args, const char*));
        }
        break;
      case 'S':
        if (d.length == Length::kShort) {
          EmitString(sink, d, va_arg(args, const char*));
        } else {
          EmitWideString(sink, d, va_arg(args, const wchar_t*));
        }
        break;
      case 'p': {
        const void* ptr = va_arg(args, const void*);
        if (ptr == nullptr) {
          EmitText(sink, d, "(nil)", 5);
        } else {
          Directive hex = d;
          hex.alternate = true;
          EmitInteger(sink, hex, reinterpret_cast<uintptr_t>(ptr), false, 16, false);
        }
        break;
      }
      case 'n':
        // Never written to: a format must not be able to store into memory.
        (void)va_arg(args, void*);
        break;
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        // No floating point in trace lines; the argument is consumed so the
        // directives after it still get their own arguments.
        if (d.longDouble) {
          (void)va_arg(args, long double);
        } else {
          (void)va_arg(args, double);
        }
        sink.Write(start, static_cast<size_t>(p + 1 - start));
        break;
      case '\0':
        // A directive cut off by the end of the format is shown as written.
        sink.Write(start, static_cast<size_t>(p - start));
        continue;
      default:
        sink.Write(start, static_cast<size_t>(p + 1 - start));
        break;
    }
    ++p;
  }
}

}  // namespace

size_t FormatTraceText(char* out, size_t capacity, const char* format, va_list args) {
  if (out == nullptr || capacity == 0) return 0;
  size_t limit = capacity - 1 < kMaxFormattedLength ? capacity - 1 : kMaxFormattedLength;
  BoundedSink sink(out, limit);
  if (format != nullptr) {
    va_list copy;
    va_copy(copy, args);
    FormatInto(sink, format, copy);
    va_end(copy);
  }
  out[sink.length()] = 0;
  return sink.length();
}

}  // namespace q7m::trace
