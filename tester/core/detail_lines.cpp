#include "detail_lines.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "api_list.h"
#include "result_lines.h"

namespace q7m::rigtool {
namespace {

// Every detail line is "\t\t: " and a label, a value and CR LF.
class Lines {
 public:
  void Number(const char* label, long value) { Add(label, std::to_string(value)); }
  void Flag(const char* label, uint32_t value) { Add(label, value != 0 ? "TRUE" : "FALSE"); }
  void Hex8(const char* label, uint32_t value) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08X", value);
    Add(label, digits);
  }
  void Hex0x(const char* label, uint32_t value) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "0x%08X", value);
    Add(label, digits);
  }
  void Add(const char* label, std::string_view value) {
    text_ += "\t\t: ";
    text_ += label;
    text_ += value;
    text_ += kCrLf;
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

// A text field that may lack its terminator: it ends at the first zero or
// at the end of the field.
std::string_view Bounded(const char* text, size_t capacity) {
  return {text, strnlen(text, capacity)};
}

// A track's data: as many characters as its length byte gives, fewer when a
// zero comes first, never beyond its field.
std::string_view TrackText(const uint8_t* data, size_t capacity, uint8_t length) {
  return Bounded(reinterpret_cast<const char*>(data), std::min<size_t>(length, capacity));
}

std::string ChipBlock(const RdaxChipData& block) {
  Lines lines;
  lines.Number("Protocol\t= ", block.kind);
  lines.Number("Data Length\t= ", static_cast<int32_t>(block.length));
  lines.Add("Data [HEX]\t= ",
            HexDump(block.data, std::min<uint32_t>(block.length, RDAX_CHIP_DATA_MAX)));
  return lines.Take();
}

std::string Capabilities(const RDAX_CAPABILITIES& c) {
  Lines l;
  l.Number("Type\t\t\t\t= ", c.type);
  l.Flag("Compound\t\t\t= ", c.compound);
  l.Number("Readable tracks\t\t\t= ", c.readTracks);
  l.Number("Writeable tracks\t\t\t= ", c.writeTracks);
  l.Number("Chip protocols\t\t\t= ", c.chipProtocols);
  l.Number("Captured cards\t\t\t= ", c.capturedCards);
  l.Number("Security type\t\t\t= ", c.securityType);
  l.Number("Power-on option\t\t\t= ", c.powerOnOption);
  l.Number("Power-off option\t\t\t= ", c.powerOffOption);
  l.Flag("Flux sensor programmable\t\t= ", c.fluxSensorProgrammable);
  l.Flag("Read/Write access following Eject\t= ", c.readWriteAfterEject);
  l.Number("Write mode\t\t\t= ", c.writeMode);
  l.Number("Chip power management\t\t= ", c.chipPower);
  l.Flag("<Extra> UPS\t\t\t= ", c.extraUps);
  l.Hex8("<Extra> SAM support\t\t= ", c.extraSam);
  l.Number("<Extra> Contactless support\t= ", c.extraContactless);
  return l.Take();
}

std::string Status(const RDAX_STATUS& s) {
  Lines l;
  l.Number("Device status\t\t= ", s.deviceStatus);
  l.Number("Media status\t\t= ", s.mediaStatus);
  l.Number("BIN status\t\t= ", s.binStatus);
  l.Number("CIM86/MM status\t= ", s.securityStatus);
  l.Number("Captured cards\t\t= ", s.capturedCards);
  l.Number("Chip status\t\t= ", s.chipStatus);
  l.Number("<Extra> Battery status\t= ", s.extraBattery);
  l.Number("<Extra> SAM chip\t\t= ", s.extraSamChip);
  return l.Take();
}

std::string CardStatus(const RDAX_CARD_STATUS& s) {
  Lines l;
  l.Hex0x("ISO1 read result\t= ", s.digit[0]);
  l.Hex0x("ISO2 read result\t= ", s.digit[1]);
  l.Hex0x("ISO3 read result\t= ", s.digit[2]);
  return l.Take();
}

std::string Tracks(const RDAX_TRACK_DATA& t) {
  Lines l;
  l.Hex0x("Track1 status\t= ", t.result[0]);
  l.Hex0x("Track2 status\t= ", t.result[1]);
  l.Hex0x("Track3 status\t= ", t.result[2]);
  l.Add("Track1 data\t= ", TrackText(t.track1, sizeof t.track1, t.length[0]));
  l.Add("Track2 data\t= ", TrackText(t.track2, sizeof t.track2, t.length[1]));
  l.Add("Track3 data\t= ", TrackText(t.track3, sizeof t.track3, t.length[2]));
  return l.Take();
}

std::string Contactless(const RdaxContactlessCards& cards) {
  Lines l;
  // The counts come from the reader's answer; never walk past the record.
  const size_t count =
      std::min<size_t>(size_t{cards.mifareCount} + cards.typeBCount, RDAX_CONTACTLESS_MAX_CARDS);
  for (size_t i = 0; i < count; ++i) {
    const RDAX_CONTACTLESS_CARD& card = cards.card[i];
    if (card.type == RDAX_CARD_MIFARE) {
      l.Add("Mifare ID\t\t= ", HexDump(card.id, 4));
    } else if (card.type == RDAX_CARD_TYPEB) {
      l.Add("TypeB ID\t\t= ", HexDump(card.id, 4));
      l.Add("TypeB App Info\t\t= ", HexDump(card.applicationData, 4));
      l.Add("TypeB Protocol\t\t= ", HexDump(card.protocolInfo, 3));
    }
  }
  return l.Take();
}

std::string Sensors(const uint32_t (&levels)[4]) {
  Lines l;
  l.Number("Sensor 1 voltage\t\t= ", static_cast<int32_t>(levels[0]));
  l.Number("Sensor 2 voltage\t\t= ", static_cast<int32_t>(levels[1]));
  l.Number("Lock-sensor voltage\t= ", static_cast<int32_t>(levels[2]));
  return l.Take();
}

std::string Version(const RDAX_VERSION& v) {
  Lines l;
  l.Add("Type\t\t= ", Bounded(v.type, sizeof v.type));
  l.Add("Revision\t= ", Bounded(v.revision, sizeof v.revision));
  l.Number("Sum value\t= ", static_cast<int32_t>(v.sum));
  return l.Take();
}

std::string ErrorCounters(const uint32_t (&c)[16]) {
  static constexpr struct {
    const char* label;
    int counter;
  } kLines[] = {
      {"Iso1 Insertion Read Error\t= ", 0}, {"Iso2 Insertion Read Error\t= ", 1},
      {"Iso3 Insertion Read Error\t= ", 2}, {"Iso1 Pullout Read Error\t= ", 4},
      {"Iso2 Pullout Read Error\t= ", 5},   {"Iso3 Pullout Read Error\t= ", 6},
      {"IC Activation\t\t= ", 8},           {"IC Communication\t= ", 9},
      {"SAM Activation\t\t= ", 10},         {"SAM Communication\t= ", 11},
      {"MemCard Activation\t= ", 12},       {"MemCard Communication\t= ", 13},
  };
  Lines l;
  for (const auto& line : kLines) l.Number(line.label, static_cast<int32_t>(c[line.counter]));
  return l.Take();
}

std::string ActionCounters(const uint32_t (&c)[4]) {
  Lines l;
  l.Number("Number of card insertion\t\t= ", static_cast<int32_t>(c[0]));
  l.Number("Number of times device is locked\t= ", static_cast<int32_t>(c[1]));
  l.Number("Number of insertion-reading\t\t= ", static_cast<int32_t>(c[2]));
  l.Number("Number of back-reading\t\t= ", static_cast<int32_t>(c[3]));
  return l.Take();
}

std::string SendCommandResponse(const ToolRecords& r) {
  constexpr size_t kStatusPart = 5;
  const size_t length = std::min<size_t>(r.sendResponseLength, kSendCommandBufferSize);
  Lines l;
  l.Add("Response Data\t= ", Bounded(r.sendResponse, std::min(length, kStatusPart)));
  if (length > kStatusPart) {
    l.Add("Addtional Data\t= ", HexDump(r.sendResponse + kStatusPart, length - kStatusPart));
  }
  return l.Take();
}

}  // namespace

std::optional<std::string> DetailEntry(int apiIndex, const ToolRecords& r,
                                       const DetailInput& input) {
  Lines l;
  switch (apiIndex) {
    case 0:
      return Capabilities(r.capabilities);
    case 1:
      return Status(r.status);
    case 4:
      return CardStatus(r.cardStatus);
    case 5:
      return Tracks(r.tracks);
    case 9:
    case 11:
    case 16:
    case 18:
    case 25:
    case 26:
      return ChipBlock(r.chipResponse);
    case 12:
    case 14:
      return ChipBlock(r.samResponse);
    case 15:
      l.Number("SAM Status\t= ", r.samStatus);
      return l.Take();
    case kActivateContactless:
      if (input.contactlessResult != 0) return std::nullopt;
      return Contactless(r.contactless);
    case 23:
      l.Add("Mifare Data\t= ", HexDump(r.mifareBlock, sizeof r.mifareBlock));
      return l.Take();
    case 30:
      return Sensors(r.sensors);
    case 31:
      return Version(r.version);
    case 32:
      l.Add("Serial Number = ", Bounded(r.serialNumber, sizeof r.serialNumber));
      return l.Take();
    case 33:
      l.Add("Model Number = ", Bounded(r.modelNumber, sizeof r.modelNumber));
      return l.Take();
    case 34:
      return ErrorCounters(r.errorCounters);
    case 35:
      return ActionCounters(r.actionCounters);
    case 36:
      l.Number("ICC Type = ", r.iccStandard);
      return l.Take();
    case 37:
      l.Number("SAM Type = ", r.samStandard);
      return l.Take();
    case kSendCommand:
      if (input.result != 0) return std::nullopt;
      return SendCommandResponse(r);
    default:
      return std::nullopt;
  }
}

}  // namespace q7m::rigtool
