// Tests of Text and the text operations: value semantics, byte-for-byte
// equality, and the edges of RightPart, FileNamePart, DecimalText and
// IntegerValue.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <utility>

#include "runtime/text.h"

namespace {

std::string S(const Text& t) { return std::string(t.c_str(), static_cast<size_t>(t.Length())); }

TEST(TextTest, EmptyAndAbsentAreEqual) {
  Text absent;
  Text fromNull(static_cast<const char*>(nullptr));
  Text empty("");
  EXPECT_TRUE(absent == empty);
  EXPECT_TRUE(fromNull == empty);
  EXPECT_FALSE(absent != fromNull);
  EXPECT_TRUE(absent.IsEmpty());
  ASSERT_NE(nullptr, absent.c_str());
  EXPECT_STREQ("", absent.c_str());
  EXPECT_EQ(0, absent.At(0));
  EXPECT_EQ(0, absent.Last());
  EXPECT_EQ(0, Text(nullptr, 5).Length());
  EXPECT_EQ(0, Text("abc", -1).Length());
}

TEST(TextTest, EqualityIsByteForByte) {
  EXPECT_TRUE(Text("abc") == Text("abc"));
  EXPECT_FALSE(Text("abc") == Text("ABC"));
  EXPECT_FALSE(Text("abc") == Text("abcd"));
  EXPECT_FALSE(Text("abcd") == Text("abc"));
  // Bytes after an embedded NUL still count.
  EXPECT_FALSE(Text("a\0b", 3) == Text("a\0c", 3));
  EXPECT_TRUE(Text("a\0b", 3) == Text("a\0b", 3));
  EXPECT_FALSE(Text("a\0b", 3) == Text("a"));
  // Bytes above 127 (code page characters) compare as they are.
  EXPECT_FALSE(Text("\xE4") == Text("\xC4"));
}

TEST(TextTest, CopyIsIndependent) {
  Text a("hello");
  Text b(a);
  b += " world";
  EXPECT_EQ("hello", S(a));
  EXPECT_EQ("hello world", S(b));
  Text c;
  c = a;
  EXPECT_TRUE(c == a);
  EXPECT_NE(a.c_str(), c.c_str());
  Text& same = c;
  c = same;  // self-assignment keeps the text
  EXPECT_EQ("hello", S(c));
}

TEST(TextTest, MoveEmptiesTheSource) {
  Text a("payload");
  Text b(std::move(a));
  EXPECT_EQ("payload", S(b));
  EXPECT_TRUE(a.IsEmpty());  // NOLINT: the moved-from state is part of the contract
  EXPECT_STREQ("", a.c_str());
  Text c("old");
  c = std::move(b);
  EXPECT_EQ("payload", S(c));
  EXPECT_TRUE(b.IsEmpty());  // NOLINT
  Text& same = c;
  c = std::move(same);
  EXPECT_EQ("payload", S(c));
}

TEST(TextTest, ConcatenationAndAppend) {
  Text path("C:\\data");
  path += '\\';
  path += Text("sub");
  path += "\\b.txt";
  EXPECT_EQ("C:\\data\\sub\\b.txt", S(path));
  EXPECT_EQ("ab", S(Text("a") + Text("b")));
  EXPECT_EQ("a", S(Text("a") + Text()));
  EXPECT_EQ("b", S(Text() + Text("b")));
  EXPECT_TRUE((Text() + Text()).IsEmpty());
  Text t("x");
  t.Append("yz", 1);
  t.Append(nullptr, 4);
  t.Append("q", 0);
  EXPECT_EQ("xy", S(t));
  // Appending a text to itself, when the buffer moves on growth.
  Text twice("abc");
  twice += twice;
  EXPECT_EQ("abcabc", S(twice));
  twice.Append(twice.c_str() + 1, 2);
  EXPECT_EQ("abcabcbc", S(twice));
}

TEST(TextTest, GrowsByManyAppends) {
  Text t;
  std::string expected;
  for (int k = 0; k < 5000; k++) {
    char c = static_cast<char>('a' + k % 26);
    t += c;
    expected += c;
  }
  EXPECT_EQ(5000, t.Length());
  EXPECT_EQ(expected, S(t));
  EXPECT_EQ(strlen(t.c_str()), 5000u);
}

TEST(TextTest, MiddleClipsAndLastIndexOf) {
  Text t("abcdef");
  EXPECT_EQ("cde", S(t.Middle(2, 3)));
  EXPECT_EQ("ef", S(t.Middle(4, 100)));
  EXPECT_EQ("ab", S(t.Middle(-3, 2)));
  EXPECT_TRUE(t.Middle(6, 1).IsEmpty());
  EXPECT_TRUE(t.Middle(2, 0).IsEmpty());
  EXPECT_TRUE(t.Middle(2, -1).IsEmpty());
  EXPECT_EQ(5, Text("a\\b\\c").LastIndexOf('c') + 1);
  EXPECT_EQ(3, Text("a\\b\\c").LastIndexOf('\\'));
  EXPECT_EQ(-1, Text("abc").LastIndexOf('/'));
  EXPECT_EQ(-1, Text().LastIndexOf('a'));
  EXPECT_EQ('f', t.Last());
  EXPECT_EQ(0, t.At(6));
  EXPECT_EQ(0, t.At(-1));
}

TEST(TextTest, RightPart) {
  EXPECT_EQ("abc", S(RightPart("abc", 5)));
  EXPECT_EQ("abc", S(RightPart("abc", 3)));
  EXPECT_EQ("bc", S(RightPart("abc", 2)));
  EXPECT_EQ("", S(RightPart("abc", 0)));
  EXPECT_EQ("", S(RightPart("abc", -1)));
  EXPECT_EQ("", S(RightPart("abc", INT32_MIN)));
  EXPECT_EQ("abc", S(RightPart("abc", INT32_MAX)));
  EXPECT_EQ("", S(RightPart(Text(), 4)));
  EXPECT_EQ(".exe", S(RightPart("out.exe", 4)));
}

TEST(TextTest, FileNamePart) {
  EXPECT_EQ("file.txt", S(FileNamePart("C:\\dir\\sub/file.txt")));
  EXPECT_EQ("file.txt", S(FileNamePart("C:/dir/sub\\file.txt")));
  EXPECT_EQ("", S(FileNamePart("C:\\dir\\")));
  EXPECT_EQ("", S(FileNamePart("/")));
  EXPECT_EQ("plain", S(FileNamePart("plain")));
  EXPECT_EQ("", S(FileNamePart(Text())));
  EXPECT_EQ("a b.txt", S(FileNamePart("\"C:\\x\\a b.txt\" rest")));
  // Slashes after the closing quote belong to the rest, not to the path.
  EXPECT_EQ("a.exe", S(FileNamePart("\"C:\\x\\a.exe\" /flag")));
  EXPECT_EQ("a.exe", S(FileNamePart("\"C:\\x\\a.exe")));
  EXPECT_EQ("", S(FileNamePart("\"")));
  EXPECT_EQ("", S(FileNamePart("\"\"")));
  EXPECT_EQ("C:", S(FileNamePart("\"C:\"")));
}

TEST(TextTest, DecimalText) {
  EXPECT_EQ("0", S(DecimalText(0)));
  EXPECT_EQ("7", S(DecimalText(7)));
  EXPECT_EQ("-7", S(DecimalText(-7)));
  EXPECT_EQ("10", S(DecimalText(10)));
  EXPECT_EQ("-2147483648", S(DecimalText(INT32_MIN)));
  EXPECT_EQ("2147483647", S(DecimalText(INT32_MAX)));
  EXPECT_EQ("-2147483647", S(DecimalText(-INT32_MAX)));
  EXPECT_EQ("1000000000", S(DecimalText(1000000000)));
}

TEST(TextTest, IntegerValue) {
  EXPECT_EQ(42, IntegerValue(" 42abc"));
  EXPECT_EQ(-7, IntegerValue("-7"));
  EXPECT_EQ(5, IntegerValue("\t+5"));
  EXPECT_EQ(12, IntegerValue(" \t \t12 34"));
  EXPECT_EQ(0, IntegerValue(""));
  EXPECT_EQ(0, IntegerValue(Text()));
  EXPECT_EQ(0, IntegerValue("abc"));
  EXPECT_EQ(0, IntegerValue("-"));
  EXPECT_EQ(0, IntegerValue("- 5"));
  EXPECT_EQ(0, IntegerValue("+-5"));
  EXPECT_EQ(0, IntegerValue("\n5"));  // only spaces and tabs are skipped
  EXPECT_EQ(7, IntegerValue("007"));
  EXPECT_EQ(INT32_MAX, IntegerValue("2147483647"));
  EXPECT_EQ(INT32_MIN, IntegerValue("-2147483648"));
  // Beyond the 32-bit range the count wraps instead of overflowing.
  EXPECT_EQ(INT32_MIN, IntegerValue("2147483648"));
  EXPECT_EQ(1, IntegerValue("4294967297"));
  EXPECT_EQ(1661992959, IntegerValue("99999999999999999999"));  // 10^20 - 1 modulo 2^32
}

TEST(TextTest, DecimalTextRoundTripsThroughIntegerValue) {
  const int32_t values[] = {0, 1, -1, 9, -9, 99, 100, 65535, -65536, 123456789, INT32_MAX, INT32_MIN};
  for (int32_t v : values) EXPECT_EQ(v, IntegerValue(DecimalText(v))) << v;
}

}  // namespace
