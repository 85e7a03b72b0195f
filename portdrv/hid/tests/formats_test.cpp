// The provider's pure formats: the bus handshake packets, the identity a
// bus device announces or the device tree describes, and the UTF-16 text
// the string functions hand out.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bus_identity.h"
#include "bus_protocol.h"
#include "hidraw_identity.h"
#include "q7m/platform.h"
#include "utf16_text.h"

namespace {

using namespace q7m::hid;
namespace hidbus = q7m::hidbus;

void Put16(std::vector<uint8_t>* p, size_t at, uint16_t v) {
  (*p)[at] = static_cast<uint8_t>(v);
  (*p)[at + 1] = static_cast<uint8_t>(v >> 8);
}

// An accept packet as a device sends it.
std::vector<uint8_t> Accept(const std::string& m, const std::string& p, const std::string& s,
                            const std::vector<uint8_t>& descriptor = {}) {
  std::vector<uint8_t> packet(28, 0);
  std::memcpy(packet.data(), "QHBA", 4);
  Put16(&packet, 4, 1);
  Put16(&packet, 8, 0x0590);
  Put16(&packet, 10, 52);
  Put16(&packet, 12, 0x0100);
  Put16(&packet, 14, 2068);
  Put16(&packet, 16, 372);
  Put16(&packet, 20, static_cast<uint16_t>(m.size()));
  Put16(&packet, 22, static_cast<uint16_t>(p.size()));
  Put16(&packet, 24, static_cast<uint16_t>(s.size()));
  Put16(&packet, 26, static_cast<uint16_t>(descriptor.size()));
  packet.insert(packet.end(), m.begin(), m.end());
  packet.insert(packet.end(), p.begin(), p.end());
  packet.insert(packet.end(), s.begin(), s.end());
  packet.insert(packet.end(), descriptor.begin(), descriptor.end());
  return packet;
}

TEST(BusPackets, OpenPacketLayout) {
  uint8_t packet[hidbus::kOpenPacketSize];
  hidbus::BuildOpenPacket(hidbus::kFlagReports | hidbus::kFlagExclusive, 0x12345678, packet);
  const uint8_t expected[] = {'Q', 'H', 'B', 'O', 1, 0, 3, 0, 0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(std::memcmp(packet, expected, sizeof expected), 0);
}

TEST(BusPackets, AcceptCarriesTheIdentity) {
  hidbus::Identity identity;
  const auto packet = Accept("Maker", "Reader", "SN01", {0xA1, 0x01, 0xC0});
  ASSERT_EQ(hidbus::ParseAnswer(packet.data(), packet.size(), &identity).kind,
            hidbus::AnswerKind::kAccept);
  EXPECT_EQ(identity.vendorId, 0x0590);
  EXPECT_EQ(identity.productId, 52);
  EXPECT_EQ(identity.versionNumber, 0x0100);
  EXPECT_EQ(identity.inputLength, 2068);
  EXPECT_EQ(identity.outputLength, 372);
  EXPECT_EQ(identity.manufacturer, "Maker");
  EXPECT_EQ(identity.product, "Reader");
  EXPECT_EQ(identity.serialNumber, "SN01");
  EXPECT_EQ(identity.reportDescriptor, (std::vector<uint8_t>{0xA1, 0x01, 0xC0}));
}

TEST(BusPackets, AnswersThatDoNotHoldTogetherAreMalformed) {
  hidbus::Identity identity;
  identity.serialNumber = "untouched";
  auto parse = [&](std::vector<uint8_t> packet) {
    return hidbus::ParseAnswer(packet.data(), packet.size(), &identity).kind;
  };
  auto packet = Accept("M", "P", "S", {1, 2, 3});
  // Declared lengths reaching past the packet, one byte at a time.
  for (size_t cut = 0; cut < packet.size(); ++cut)
    EXPECT_EQ(parse(std::vector<uint8_t>(packet.begin(), packet.begin() + static_cast<long>(cut))),
              hidbus::AnswerKind::kMalformed)
        << cut;
  auto wrongVersion = packet;
  Put16(&wrongVersion, 4, 2);
  EXPECT_EQ(parse(wrongVersion), hidbus::AnswerKind::kMalformed);
  auto badStatus = packet;
  Put16(&badStatus, 6, 1);
  EXPECT_EQ(parse(badStatus), hidbus::AnswerKind::kMalformed);
  EXPECT_EQ(parse(Accept(std::string(127, 'm'), "", "")), hidbus::AnswerKind::kMalformed);
  EXPECT_EQ(parse(Accept("", "", "", std::vector<uint8_t>(4097, 0))),
            hidbus::AnswerKind::kMalformed);
  auto badMagic = packet;
  badMagic[3] = 'X';
  EXPECT_EQ(parse(badMagic), hidbus::AnswerKind::kMalformed);
  EXPECT_EQ(identity.serialNumber, "untouched");
  // The longest strings and descriptor are fine; extra bytes are ignored.
  auto longest = Accept(std::string(126, 'm'), std::string(126, 'p'), std::string(126, 's'),
                        std::vector<uint8_t>(4096, 0));
  longest.push_back(0xEE);
  EXPECT_EQ(parse(longest), hidbus::AnswerKind::kAccept);
}

TEST(BusPackets, NonPrintableStringBytesBecomeQuestionMarks) {
  hidbus::Identity identity;
  const auto packet = Accept(std::string("A\x01"
                                         "B",
                                         3),
                             "\x7F\x80", "ok");
  ASSERT_EQ(hidbus::ParseAnswer(packet.data(), packet.size(), &identity).kind,
            hidbus::AnswerKind::kAccept);
  EXPECT_EQ(identity.manufacturer, "A?B");
  EXPECT_EQ(identity.product, "??");
}

TEST(BusPackets, RefusalsAndTheirErrors) {
  const uint8_t refuse[] = {'Q', 'H', 'B', 'R', 1, 0, 1, 0};
  hidbus::Identity identity;
  const hidbus::Answer answer = hidbus::ParseAnswer(refuse, sizeof refuse, &identity);
  EXPECT_EQ(answer.kind, hidbus::AnswerKind::kRefuse);
  EXPECT_EQ(answer.refuseReason, hidbus::kRefuseBusy);
  EXPECT_EQ(hidbus::ParseAnswer(refuse, 7, &identity).kind, hidbus::AnswerKind::kMalformed);
  EXPECT_EQ(hidbus::RefusalError(hidbus::kRefuseBusy), Q7M_ERROR_SHARING_VIOLATION);
  EXPECT_EQ(hidbus::RefusalError(hidbus::kRefuseTooMany), Q7M_ERROR_ACCESS_DENIED);
  EXPECT_EQ(hidbus::RefusalError(hidbus::kRefuseVersion), Q7M_ERROR_INVALID_DATA);
  EXPECT_EQ(hidbus::RefusalError(hidbus::kRefuseMalformed), Q7M_ERROR_INVALID_DATA);
  EXPECT_EQ(hidbus::RefusalError(99), Q7M_ERROR_INVALID_DATA);
}

TEST(BusIdentity, AnnouncedLengthsWinOverTheDescriptor) {
  hidbus::Identity announced;
  announced.inputLength = 372;
  announced.outputLength = 140;
  // A descriptor of 64-byte unnumbered reports on vendor page 0xFF00.
  announced.reportDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75,
                                0x08, 0x95, 0x40, 0x81, 0x02, 0x91, 0x02, 0xC0};
  DeviceIdentity identity = bus::IdentityFromAnnouncement(announced);
  EXPECT_TRUE(identity.layoutKnown);
  EXPECT_EQ(identity.layout.inputLength, 372);
  EXPECT_EQ(identity.layout.outputLength, 140);
  EXPECT_EQ(identity.layout.usagePage, 0xFF00);
  EXPECT_FALSE(identity.layout.numbered);
  // Without a (usable) descriptor the reports are numbered, as the
  // reader's are.
  announced.reportDescriptor = {0xC0};
  identity = bus::IdentityFromAnnouncement(announced);
  EXPECT_TRUE(identity.layout.numbered);
  EXPECT_EQ(identity.layout.inputLength, 372);
}

TEST(HidrawIdentity, FromTheDeviceTreesAttributes) {
  hidraw::UsbAttributes attributes;
  attributes.idVendor = "0590";
  attributes.idProduct = "0034";
  attributes.bcdDevice = "0102";
  attributes.manufacturer = "Maker";
  attributes.product = "Reader";
  const uint8_t descriptor[] = {0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x03, 0x81, 0x02, 0xC0};
  DeviceIdentity identity;
  ASSERT_TRUE(hidraw::IdentityFromAttributes(attributes, descriptor, sizeof descriptor, &identity));
  EXPECT_EQ(identity.vendorId, 0x0590);
  EXPECT_EQ(identity.productId, 0x0034);
  EXPECT_EQ(identity.versionNumber, 0x0102);
  EXPECT_EQ(identity.manufacturer, "Maker");
  EXPECT_EQ(identity.serialNumber, "");  // the device has no serial number string
  EXPECT_TRUE(identity.layoutKnown);
  EXPECT_EQ(identity.layout.inputLength, 4);
  EXPECT_TRUE(identity.layout.numbered);

  // No usable descriptor: listed and filtered, but without report lengths.
  attributes.bcdDevice = nullptr;
  ASSERT_TRUE(hidraw::IdentityFromAttributes(attributes, descriptor, 3, &identity));
  EXPECT_FALSE(identity.layoutKnown);
  EXPECT_EQ(identity.versionNumber, 0);
  ASSERT_TRUE(hidraw::IdentityFromAttributes(attributes, nullptr, 0, &identity));
  EXPECT_FALSE(identity.layoutKnown);

  for (const char* bad : {"", "10590", "05g0", "-1"}) {
    attributes.idVendor = bad;
    EXPECT_FALSE(hidraw::IdentityFromAttributes(attributes, nullptr, 0, &identity)) << bad;
  }
  attributes.idVendor = "0590";
  attributes.idProduct = nullptr;
  EXPECT_FALSE(hidraw::IdentityFromAttributes(attributes, nullptr, 0, &identity));
}

std::u16string Utf16(const std::string& text, size_t capacity) {
  std::vector<char16_t> out(capacity + 1, u'#');
  const size_t n = Utf8ToUtf16(text, out.data(), capacity);
  if (capacity > 0) {
    EXPECT_EQ(out[n], 0) << "terminated";
  }
  return std::u16string(out.data(), n);
}

TEST(Utf16Text, ConversionAndCutting) {
  EXPECT_EQ(Utf16("Reader 7", 64), u"Reader 7");
  EXPECT_EQ(Utf16("Gr\xC3\xBC\xC3\x9F"
                  "e \xE2\x82\xAC",
                  64),
            u"Grüße €");
  EXPECT_EQ(Utf16("\xF0\x9F\x92\xB3", 64), u"\U0001F4B3");
  // Cut to the buffer, never through a surrogate pair.
  EXPECT_EQ(Utf16("abcdef", 4), u"abc");
  EXPECT_EQ(Utf16("a\xF0\x9F\x92\xB3", 3), u"a");
  EXPECT_EQ(Utf16("abc", 1), u"");
  char16_t untouched = u'#';
  EXPECT_EQ(Utf8ToUtf16("abc", &untouched, 0), 0u);
  EXPECT_EQ(untouched, u'#');
}

TEST(Utf16Text, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf16("a\x80z", 64), u"a\uFFFDz");          // stray continuation byte
  EXPECT_EQ(Utf16("a\xE2\x82", 64), u"a\uFFFD");        // cut three-byte sequence
  EXPECT_EQ(Utf16("\xE2\x82z", 64), u"\uFFFDz");        // broken, resumes at z
  EXPECT_EQ(Utf16("\xC0\xAF", 64), u"\uFFFD");          // overlong '/'
  EXPECT_EQ(Utf16("\xED\xA0\x80", 64), u"\uFFFD");      // encoded surrogate
  EXPECT_EQ(Utf16("\xF4\x90\x80\x80", 64), u"\uFFFD");  // beyond U+10FFFF
  EXPECT_EQ(Utf16("\xFF", 64), u"\uFFFD");
  EXPECT_EQ(Utf16(std::string("ab\0cd", 5), 64), u"ab");  // a zero ends the text
}

}  // namespace
