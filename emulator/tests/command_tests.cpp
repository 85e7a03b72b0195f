// The reader's answers, checked at the offsets the card-reader API reads
// them from, and the reader's settings as text.
#include <gtest/gtest.h>

#include <string>

#include "command_dispatcher.h"
#include "field_table.h"
#include "reader_commands.h"
#include "reader_fields.h"

namespace q7msim {
namespace {

class DeviceCommands : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegisterReaderCommands(&dispatcher_));
    AddReaderStateFields(&state_, &fields_);
  }
  std::string Run(const std::string& command) {
    ResponseBuffer response;
    dispatcher_.Execute(state_, reinterpret_cast<const uint8_t*>(command.data()), command.size(),
                        &response);
    return std::string(reinterpret_cast<const char*>(response.data()), response.size());
  }
  void Set(const std::string& field, const std::string& value) {
    ASSERT_EQ(fields_.Set(field, value), "") << field;
  }
  // A hexadecimal field read digit by digit, as the API reads it.
  static uint32_t Hex(const std::string& text) {
    return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
  }

  CommandDispatcher dispatcher_;
  ReaderState state_;
  FieldTable fields_;
};

TEST_F(DeviceCommands, VersionsSitWhereTheyAreRead) {
  Set("MaskVersion", "MASK-A,07,ABCDEF");
  Set("FirmwareVersion", "FW-MAIN,23,89ABCDEF");
  Set("IcVersion", "ICFW,04,00C0FFEE");
  Set("SamVersion", "SAMFW,05,DEADBEEF");
  Set("CardStatus", "10");
  std::string v0 = Run("CV0");
  ASSERT_GE(v0.size(), 67u);
  EXPECT_EQ(v0.substr(0, 5), "PV010");
  EXPECT_EQ(v0.substr(5, 12), "MASK-A      ");
  EXPECT_EQ(v0.substr(17, 2), "07");
  EXPECT_EQ(Hex(v0.substr(19, 6)), 0xABCDEFu);
  EXPECT_EQ(v0.substr(45, 12), "FW-MAIN     ");
  EXPECT_EQ(v0.substr(57, 2), "23");
  EXPECT_EQ(Hex(v0.substr(59, 8)), 0x89ABCDEFu);

  std::string v1 = Run("CV1");
  EXPECT_EQ(v1.substr(0, 3), "PV1");
  EXPECT_EQ(v1.substr(5, 12), "ICFW        ");
  EXPECT_EQ(v1.substr(17, 2), "04");
  EXPECT_EQ(v1.substr(19, 8), "00C0FFEE");
  std::string v2 = Run("CV2");
  EXPECT_EQ(v2.substr(5, 5), "SAMFW");
  EXPECT_EQ(v2.substr(19, 8), "DEADBEEF");
}

TEST_F(DeviceCommands, SerialAndModelNumberArePaddedToTheirFields) {
  Set("Model", "MODEL-X");
  Set("SerialNumber", "12345");
  std::string r = Run("CUE");
  ASSERT_EQ(r.size(), 31u);
  EXPECT_EQ(r.substr(0, 5), "PUE00");
  EXPECT_EQ(r.substr(5, 20), "MODEL-X             ");
  EXPECT_EQ(r.substr(25, 6), "12345 ");
  EXPECT_NE(fields_.Set("Model", std::string(21, 'M')), "");
  EXPECT_NE(fields_.Set("SerialNumber", "1234567"), "");
  EXPECT_NE(fields_.Set("SerialNumber", "12\t4"), "");
}

TEST_F(DeviceCommands, CapabilitiesCarryTracksContactlessAndSam) {
  Set("Tracks", "13");
  Set("Contactless", "5");
  Set("SamSupport", "2");
  Set("SamSlots", "10101");
  std::string r = Run("CN0");
  ASSERT_EQ(r.size(), 31u);
  EXPECT_EQ(r.substr(8, 3), "101");
  EXPECT_EQ(r[12], '5');
  EXPECT_EQ(r[25], '2');
  EXPECT_EQ(r.substr(26, 5), "10101");
  Set("Tracks", "none");
  EXPECT_EQ(Run("CN0").substr(8, 3), "000");
  EXPECT_NE(fields_.Set("Tracks", "4"), "");
  EXPECT_NE(fields_.Set("SamSlots", "1012"), "");
}

TEST_F(DeviceCommands, CountersSensorsAndStandards) {
  Set("Counters", "1,22,333");
  Set("Counter20", "99999999");
  Set("Sensors", "7,8,9,99");
  std::string m = Run("CM0");
  ASSERT_EQ(m.size(), 5u + 20 * 8);
  EXPECT_EQ(m.substr(5, 8), "00000001");
  EXPECT_EQ(m.substr(13, 8), "00000022");
  EXPECT_EQ(m.substr(21, 8), "00000333");
  EXPECT_EQ(m.substr(157, 8), "99999999");
  EXPECT_NE(fields_.Set("Counter1", "100000000"), "");
  EXPECT_NE(fields_.Set("Counters", "1,2,x"), "");
  EXPECT_EQ(Run("CM0").substr(5, 8), "00000001");  // a refused list changes nothing

  EXPECT_EQ(Run("CL0"),
            "PL000"
            "07080999");

  Set("IccStandard", "??");
  Set("SamStandard", "5");
  std::string y = Run("CY0");
  EXPECT_EQ(y.substr(5, 2), "??");
  EXPECT_EQ(y.substr(12, 2), "05");
  EXPECT_EQ(Run("CY605").substr(0, 5), "PY600");
  EXPECT_EQ(Run("CY0").substr(5, 2), "05");
  EXPECT_EQ(Run("CY703").substr(0, 5), "NY702");  // only 00, 04, 05, 06
  EXPECT_EQ(Run("CY6"), "NY602");
}

TEST_F(DeviceCommands, StatusFollowsCardStatusAndDeviceError) {
  Set("CardStatus", "01");
  EXPECT_EQ(Run("C10"), "P1001");
  EXPECT_EQ(Run("C11"), "P1101");
  Set("DeviceError", "18");
  EXPECT_EQ(Run("C10"), "N1018");
  EXPECT_EQ(Run("C11"), "N1118");
  Set("DeviceError", "none");
  EXPECT_EQ(Run("C10"), "P1001");
}

TEST_F(DeviceCommands, LedCommandsCheckTheirDigits) {
  EXPECT_EQ(Run("CP835"), "PP800");
  EXPECT_EQ(state_.led.mode, LedMode::kBlink);
  EXPECT_EQ(state_.led.colour, '3');
  EXPECT_EQ(state_.led.cycle, '5');
  EXPECT_EQ(Run("CP72"), "PP700");
  EXPECT_EQ(state_.led.mode, LedMode::kOn);
  EXPECT_EQ(Run("CP6"), "PP600");
  EXPECT_EQ(state_.led.mode, LedMode::kOff);
  EXPECT_EQ(Run("CN30"), "PN300");
  EXPECT_FALSE(state_.led.automatic);
  // Refused parameters leave the LED as it was.
  for (const char* bad :
       {"CP70", "CP74", "CP7", "CP711", "CP806", "CP845", "CP8", "CN32", "CP6x"}) {
    std::string r = Run(bad);
    EXPECT_EQ(r.substr(0, 1), "N") << bad;
    EXPECT_EQ(r.substr(3, 2), "02") << bad;
  }
  EXPECT_EQ(state_.led.mode, LedMode::kOff);
  EXPECT_FALSE(state_.led.automatic);
}

TEST_F(DeviceCommands, ResetTurnsTheLedOffAndCounts) {
  Run("CP71");
  EXPECT_EQ(Run("C00"), "P0000");
  EXPECT_EQ(state_.led.mode, LedMode::kOff);
  EXPECT_EQ(state_.Counter(ReaderCounter::kResets), 1u);
  EXPECT_EQ(Run("C00x").substr(0, 1), "N");
  EXPECT_EQ(state_.Counter(ReaderCounter::kResets), 1u);
}

TEST_F(DeviceCommands, EveryMessageGetsExactlyOneAnswer) {
  // Unknown codes and things that are not commands: "N", echoed code and the
  // undefined-command error.
  EXPECT_EQ(Run("Cq1"), "Nq100");
  EXPECT_EQ(Run("Czz"), "Nzz00");
  EXPECT_EQ(Run("X10"), "N1000");
  EXPECT_EQ(Run("C1"), "N1 00");
  EXPECT_EQ(Run(""), "N  00");
  EXPECT_EQ(Run(std::string("C\x01\xFF", 3)), std::string("N\x01\xFF"
                                                          "00",
                                                          5));
  Set("UndefinedCommandError", "0A");
  EXPECT_EQ(Run("Cq1"), "Nq10A");
  // The cancel, whatever follows it.
  EXPECT_EQ(Run("E"), "E");
  EXPECT_EQ(Run("Exyz"), "E");
  EXPECT_EQ(state_.Counter(ReaderCounter::kCancels), 2u);
}

TEST_F(DeviceCommands, NewFamiliesRegisterBesideTheDeviceCommands) {
  // Every listed code is answered; no code has two handlers.
  size_t count = 0;
  const CommandCodeInfo* codes = ReaderCommandCodes(&count);
  EXPECT_EQ(count, 56u);
  for (size_t i = 0; i < count; ++i) EXPECT_TRUE(dispatcher_.Knows(codes[i].code)) << codes[i].code;
  EXPECT_FALSE(RegisterDeviceCommands(&dispatcher_));
  EXPECT_FALSE(dispatcher_.Register("d3", [](CommandContext& c) { c.Accept(); }));

  // A family claims only codes of the command format, with a handler, once.
  CommandDispatcher later;
  EXPECT_FALSE(later.Register("d3", nullptr));
  EXPECT_FALSE(later.Register("d", [](CommandContext& c) { c.Accept(); }));
  ASSERT_TRUE(later.Register("d3", [](CommandContext& c) { c.Accept(); }));
  EXPECT_FALSE(RegisterReaderCommands(&later));
  ResponseBuffer response;
  static int cancels = 0;
  later.AddCancelHook([](ReaderState&) { ++cancels; });
  later.Execute(state_, reinterpret_cast<const uint8_t*>("E"), 1, &response);
  EXPECT_EQ(cancels, 1);

  // A code outside the command format is a mistake of its family.
  CommandDispatcher stray;
  ASSERT_TRUE(stray.Register("zz", [](CommandContext& c) { c.Accept(); }));
  EXPECT_FALSE(RegisterReaderCommands(&stray));
}

TEST(ReaderFields, VersionsCountersAndStandardsRoundTrip) {
  ReaderState state;
  FieldTable fields;
  AddReaderStateFields(&state, &fields);
  std::string value;
  ASSERT_EQ(fields.Set("maskversion", "M1,02,00ABCD"), "");  // names ignore case
  ASSERT_TRUE(fields.Get("MaskVersion", &value));
  EXPECT_EQ(value, "M1,02,00ABCD");
  EXPECT_NE(fields.Set("MaskVersion", "M1,02,1000000"), "");  // 7 digits for a 6-digit sum
  EXPECT_NE(fields.Set("FirmwareVersion", "TOO-LONG-TYPE,01,0"), "");
  EXPECT_NE(fields.Set("FirmwareVersion", "FW,123,0"), "");
  EXPECT_NE(fields.Set("FirmwareVersion", "FW,01"), "");
  EXPECT_EQ(fields.Set("Led", "blink colour=2 cycle=4 control=manual"), "");
  ASSERT_TRUE(fields.Get("Led", &value));
  EXPECT_EQ(value, "blink colour=2 cycle=4 control=manual");
  EXPECT_EQ(fields.Set("Led", "off"), "");  // the rest stays
  ASSERT_TRUE(fields.Get("Led", &value));
  EXPECT_EQ(value, "off control=manual");
  EXPECT_NE(fields.Set("Led", "bright"), "");
  EXPECT_NE(fields.Set("Led", "on colour=4"), "");
  EXPECT_NE(fields.Set("Resets", "3"), "");  // read-only
  EXPECT_NE(fields.Set("NoSuchField", "1"), "");
  EXPECT_EQ(fields.Set("Counters", "5"), "");
  ASSERT_TRUE(fields.Get("Counter1", &value));
  EXPECT_EQ(value, "5");
  EXPECT_EQ(fields.Set("Sensor4", "0x10"), "");
  EXPECT_EQ(state.sensors[3], 16u);
  EXPECT_NE(fields.Set("Sensor4", "100"), "");
  EXPECT_NE(fields.Set("CardStatus", "1"), "");
  EXPECT_NE(fields.Set("DeviceError", "123"), "");
}

}  // namespace
}  // namespace q7msim
