// The trace formatter: printf results for every integer, character and
// string directive, and safety with formats no trace line should contain.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "q7m/trace/trace_format.h"

// Results are compared with printf using the directive shapes the trace
// lines use, some of which GCC reports as having a redundant flag.
#pragma GCC diagnostic ignored "-Wformat"

namespace {

using q7m::trace::FormatTraceText;
using q7m::trace::kMaxFormattedLength;

std::string Format(size_t capacity, const char* format, ...) {
  std::vector<char> out(capacity + 16, '#');
  va_list args;
  va_start(args, format);
  size_t n = FormatTraceText(out.data(), capacity, format, args);
  va_end(args);
  EXPECT_EQ(out[n], '\0');
  EXPECT_EQ(std::strlen(out.data()), n);
  EXPECT_EQ(out[capacity], '#') << "wrote past the capacity";
  return std::string(out.data(), n);
}

#define EXPECT_AS_PRINTF(format, ...)                                   \
  do {                                                                  \
    char expected[512];                                                 \
    std::snprintf(expected, sizeof expected, format, __VA_ARGS__);      \
    EXPECT_EQ(Format(2048, format, __VA_ARGS__), expected) << (format); \
  } while (0)

TEST(TraceFormat, IntegerDirectivesMatchPrintf) {
  EXPECT_AS_PRINTF("%d|%i|%u", -17, 42, 3000000000u);
  EXPECT_AS_PRINTF("%x|%X|%o", 0xBEEFu, 0xBEEFu, 8u);
  EXPECT_AS_PRINTF("%8d|%-8d|%08d|%-08d", -5, -5, -5, -5);
  EXPECT_AS_PRINTF("%+d|% d|%+d|% d", 5, 5, -5, -5);
  EXPECT_AS_PRINTF("%#x|%#X|%#o|%#x|%#o", 255u, 255u, 8u, 0u, 0u);
  EXPECT_AS_PRINTF("%.0d|%.0x|%5.0d|%.3d|%8.3d|%-8.3d|%08.3d", 0, 0u, 0, 7, -7, 7, 7);
  EXPECT_AS_PRINTF("%hhd|%hhu|%hd|%hu", 300, 300u, 70000, 70000u);
  EXPECT_AS_PRINTF("%ld|%lu|%lX", LONG_MIN, ULONG_MAX, 0xDEADBEEFCAFEul);
  EXPECT_AS_PRINTF("%lld|%llu|%llx", LLONG_MIN, ULLONG_MAX, 0x123456789ABCDEFull);
  EXPECT_AS_PRINTF("%zu|%zd|%jd|%td", size_t{99}, ssize_t{-99}, intmax_t{-1}, ptrdiff_t{-2});
  EXPECT_AS_PRINTF("%d|%d", INT_MIN, INT_MAX);
}

TEST(TraceFormat, RecordHeaderAndArgumentLabelFormatsMatchPrintf) {
  // The directive shapes the stack's trace lines use.
  EXPECT_AS_PRINTF("%06.6lX,%04.4d%02.2d%02.2d%02.2d%02.2d%02.2d,%08.8lX,%08.8lX,", 0xABCDEFul,
                   2024, 5, 1, 9, 8, 7, 0x1234ul, 0xFFFFFFFFul);
  EXPECT_AS_PRINTF("RDAX:Entry=%s P1=0x%08lX", "RDAX_OpenDevice", 0x1ul);
  EXPECT_AS_PRINTF("CMD:%-6s L=0x%03.3lX D=", "COM3", 0x7ul);
  EXPECT_AS_PRINTF("%02.2X ", 0xAu);
}

TEST(TraceFormat, CharacterStringAndStarDirectivesMatchPrintf) {
  EXPECT_AS_PRINTF("[%c][%3c][%-3c]", 'a', 'b', 'c');
  EXPECT_AS_PRINTF("[%s][%8s][%-8s][%.2s][%8.2s]", "abc", "abc", "abc", "abc", "abc");
  EXPECT_AS_PRINTF("[%*d][%-*d][%*d]", 6, 42, 6, 42, -6, 42);
  EXPECT_AS_PRINTF("[%.*s][%.*d][%.*s]", 2, "abcdef", 4, 7, -1, "xyz");
  EXPECT_AS_PRINTF("100%% %s", "done");
}

TEST(TraceFormat, WideAndPointerDirectives) {
  EXPECT_EQ(Format(2048, "%ls|%S|%lc|%C", L"wide", L"text", L'x', L'y'), "wide|text|x|y");
  EXPECT_EQ(Format(2048, "%hS|%5.2ls|", "narrow", L"abcdef"), "narrow|   ab|");
  EXPECT_EQ(Format(2048, "%ls", L"\u20AC"), "?");  // not single-byte text
  EXPECT_EQ(Format(2048, "%p|%ls", static_cast<void*>(nullptr), static_cast<wchar_t*>(nullptr)),
            "(nil)|(null)");
  EXPECT_EQ(Format(2048, "%p", reinterpret_cast<void*>(0x1234)), "0x1234");
}

TEST(TraceFormat, NullStringsAndNullFormat) {
  EXPECT_EQ(Format(2048, "[%s][%.3s][%8s]", static_cast<char*>(nullptr),
                   static_cast<char*>(nullptr), static_cast<char*>(nullptr)),
            "[(null)][(nu][  (null)]");
  char out[8] = "xxxxxxx";
  va_list none{};
  EXPECT_EQ(FormatTraceText(out, sizeof out, nullptr, none), 0u);
  EXPECT_STREQ(out, "");
}

TEST(TraceFormat, PrecisionBoundsHowFarAStringIsRead) {
  // Not terminated: a read past the third byte is caught by the sanitizer.
  char unterminated[3] = {'a', 'b', 'c'};
  EXPECT_EQ(Format(2048, "%.3s|", unterminated), "abc|");
}

TEST(TraceFormat, DirectivesThatMustNotActAreInert) {
  int target = 12345;
  // %n stores nothing, but its argument is used up.
  EXPECT_EQ(Format(2048, "ab%ncd%d", &target, 7), "abcd7");
  EXPECT_EQ(target, 12345);
  // Floating point is not formatted; the argument is still consumed so the
  // next directive gets its own value.
  EXPECT_EQ(Format(2048, "%f|%d|%.2e|%s", 1.5, 7, 2.5, "ok"), "%f|7|%.2e|ok");
  EXPECT_EQ(Format(2048, "%Lf|%d", 1.5L, 8), "%Lf|8");
  // Unknown conversions are shown as written and take no argument.
  EXPECT_EQ(Format(2048, "%y|%k%d", 9), "%y|%k9");
  // A directive cut off by the end of the format.
  EXPECT_EQ(Format(2048, "end%"), "end%");
  EXPECT_EQ(Format(2048, "end%-08"), "end%-08");
}

TEST(TraceFormat, OutputIsBoundedByTheLimitAndTheCapacity) {
  EXPECT_EQ(Format(2048, "%5000d", 1).size(), kMaxFormattedLength);
  EXPECT_EQ(Format(2048, "%99999999999999999999999d|", 1).size(), kMaxFormattedLength);
  EXPECT_EQ(Format(2048, "%.99999999999999999999999d|", 1).size(), kMaxFormattedLength);
  std::string longText(5000, 'z');
  std::string out = Format(2048, "%s%s", longText.c_str(), "tail");
  EXPECT_EQ(out, std::string(kMaxFormattedLength, 'z'));
  EXPECT_EQ(Format(6, "%s", "abcdefgh"), "abcde");
  EXPECT_EQ(Format(6, "%08d", 42), "00000");
  EXPECT_EQ(Format(1, "%d", 42), "");
  // The number just fits the limit.
  std::string limitFormat = "%" + std::to_string(kMaxFormattedLength) + "d";
  EXPECT_EQ(Format(2048, limitFormat.c_str(), 3).back(), '3');
}

TEST(TraceFormat, TheCallersArgumentListIsNotConsumed) {
  auto twice = [](const char* format, ...) {
    char a[64], b[64];
    va_list args;
    va_start(args, format);
    FormatTraceText(a, sizeof a, format, args);
    FormatTraceText(b, sizeof b, format, args);
    va_end(args);
    return std::string(a) + "/" + b;
  };
  EXPECT_EQ(twice("%d-%s", 5, "x"), "5-x/5-x");
}

}  // namespace
