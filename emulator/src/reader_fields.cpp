#include "reader_fields.h"

#include <string>

#include "text_util.h"

namespace q7msim {

namespace {

std::string SetText(std::string* target, std::string_view value, size_t width) {
  if (value.size() > width) return "at most " + std::to_string(width) + " characters";
  if (!IsPrintable(value)) return "printable characters only";
  *target = std::string(value);
  return {};
}

std::string SetTwoChars(std::array<char, 2>* target, std::string_view value) {
  if (value.size() != 2 || !IsPrintable(value)) return "two printable characters";
  (*target)[0] = value[0];
  (*target)[1] = value[1];
  return {};
}

std::string FormatVersion(const VersionInfo& v, int sumDigits) {
  return v.type + "," + v.revision + "," + FormatHex(v.sum, sumDigits).substr(2);
}

// "TYPE,RV,SUM" with the sum in hexadecimal digits.
std::string SetVersion(VersionInfo* v, std::string_view value, int sumDigits) {
  auto parts = SplitList(value, ',');
  if (parts.size() != 3) return "expected TYPE,REVISION,SUM";
  if (parts[0].size() > kVersionTypeWidth || !IsPrintable(parts[0]))
    return "type: at most 12 printable characters";
  if (parts[1].size() > kVersionRevisionWidth || !IsPrintable(parts[1]))
    return "revision: at most 2 printable characters";
  uint64_t max = sumDigits == 6 ? 0xFFFFFFull : 0xFFFFFFFFull;
  uint64_t sum = 0;
  if (!ParseHexDigits(parts[2], max, &sum))
    return "sum: at most " + std::to_string(sumDigits) + " hexadecimal digits";
  v->type = std::string(parts[0]);
  v->revision = std::string(parts[1]);
  v->sum = static_cast<uint32_t>(sum);
  return {};
}

template <size_t N>
std::string FormatList(const std::array<uint32_t, N>& values) {
  std::string text;
  for (size_t i = 0; i < N; ++i) {
    if (i) text += ',';
    text += std::to_string(values[i]);
  }
  return text;
}

template <size_t N>
std::string SetList(std::array<uint32_t, N>* values, std::string_view text, uint64_t max) {
  auto parts = SplitList(text, ',');
  if (parts.empty() || parts.size() > N)
    return "1 to " + std::to_string(N) + " comma-separated numbers";
  std::array<uint32_t, N> copy = *values;
  for (size_t i = 0; i < parts.size(); ++i) {
    uint64_t v = 0;
    if (!ParseUnsigned(parts[i], max, &v)) return "numbers from 0 to " + std::to_string(max);
    copy[i] = static_cast<uint32_t>(v);
  }
  *values = copy;
  return {};
}

std::string FormatStandard(int standard) {
  if (standard == kStandardUnknown) return "??";
  char text[8];
  std::snprintf(text, sizeof text, "%02d", standard);
  return text;
}

std::string SetStandard(int* standard, std::string_view value) {
  if (value == "??" || EqualsNoCase(value, "unknown")) {
    *standard = kStandardUnknown;
    return {};
  }
  uint64_t v = 0;
  if (!ParseUnsigned(value, 99, &v)) return "a number from 0 to 99, or ??";
  *standard = static_cast<int>(v);
  return {};
}

std::string FormatLed(const LedState& led) {
  std::string text;
  switch (led.mode) {
    case LedMode::kOff:
      text = "off";
      break;
    case LedMode::kOn:
      text = std::string("on colour=") + led.colour;
      break;
    case LedMode::kBlink:
      text = std::string("blink colour=") + led.colour + " cycle=" + led.cycle;
      break;
  }
  text += led.automatic ? " control=automatic" : " control=manual";
  return text;
}

// The form FormatLed writes: "off|on|blink [colour=1-3] [cycle=1-5]
// [control=manual|automatic]"; what is not named stays as it was.
std::string SetLed(LedState* led, std::string_view value) {
  auto words = SplitWords(value);
  if (words.empty()) return "off, on or blink, then colour=, cycle=, control=";
  LedState next = *led;
  if (EqualsNoCase(words[0], "off")) {
    next.mode = LedMode::kOff;
  } else if (EqualsNoCase(words[0], "on")) {
    next.mode = LedMode::kOn;
  } else if (EqualsNoCase(words[0], "blink")) {
    next.mode = LedMode::kBlink;
  } else {
    return "off, on or blink first";
  }
  for (size_t i = 1; i < words.size(); ++i) {
    std::string_view word = words[i];
    size_t eq = word.find('=');
    std::string_view name = word.substr(0, eq);
    std::string_view v = eq == std::string_view::npos ? std::string_view() : word.substr(eq + 1);
    if (EqualsNoCase(name, "colour") && v.size() == 1 && v[0] >= '1' && v[0] <= '3') {
      next.colour = v[0];
    } else if (EqualsNoCase(name, "cycle") && v.size() == 1 && v[0] >= '1' && v[0] <= '5') {
      next.cycle = v[0];
    } else if (EqualsNoCase(name, "control") &&
               (EqualsNoCase(v, "manual") || EqualsNoCase(v, "automatic"))) {
      next.automatic = EqualsNoCase(v, "automatic");
    } else {
      return "colour=1 to 3, cycle=1 to 5, control=manual or automatic";
    }
  }
  *led = next;
  return {};
}

constexpr const char* kPositionNames[] = {"none", "gate", "inside"};

std::string SetPosition(ReaderState* s, std::string_view value) {
  for (size_t i = 0; i < 3; ++i) {
    if (EqualsNoCase(value, kPositionNames[i])) {
      s->MoveCard(static_cast<CardPosition>(i));
      return {};
    }
  }
  return "none, gate or inside";
}

std::string FormatChipContact(const CardSlot& slot) {
  switch (slot.chip) {
    case ChipContact::kReleased:
      return "released";
    case ChipContact::kLowered:
      return "lowered";
    case ChipContact::kPowered:
      return "powered";
    case ChipContact::kMemoryCard:
      return "memory" + std::to_string(slot.memoryCardType);
  }
  return "released";
}

std::string SetChipContact(ReaderState* s, std::string_view value) {
  ChipContact chip;
  uint8_t type = 0;
  if (EqualsNoCase(value, "released")) {
    chip = ChipContact::kReleased;
  } else if (EqualsNoCase(value, "lowered")) {
    chip = ChipContact::kLowered;
  } else if (EqualsNoCase(value, "powered")) {
    chip = ChipContact::kPowered;
  } else if (value.size() == 7 && EqualsNoCase(value.substr(0, 6), "memory") && value[6] >= '0' &&
             value[6] <= '3') {
    chip = ChipContact::kMemoryCard;
    type = static_cast<uint8_t>(value[6] - '0');
  } else {
    return "released, lowered, powered or memory0 to memory3";
  }
  if (chip != ChipContact::kReleased && s->slot.position != CardPosition::kInside)
    return "no card inside to contact";
  s->SetChipContact(chip, type);
  return {};
}

// A pair that stands for a position moves the card there; any other pair is
// reported as it is until the card moves.
std::string SetCardStatus(ReaderState* s, std::string_view value) {
  if (value.size() != 2 || !IsPrintable(value)) return "two printable characters";
  if (value == "00") {
    s->MoveCard(CardPosition::kNone);
  } else if (value == "01") {
    s->MoveCard(CardPosition::kGate);
  } else if (value == "02" || value == "10" || value == "11" ||
             (value[0] == '2' && value[1] >= '0' && value[1] <= '3')) {
    s->MoveCard(CardPosition::kInside);
    if (value == "10")
      s->SetChipContact(ChipContact::kLowered);
    else if (value == "11")
      s->SetChipContact(ChipContact::kPowered);
    else if (value[0] == '2')
      s->SetChipContact(ChipContact::kMemoryCard, static_cast<uint8_t>(value[1] - '0'));
  } else {
    s->slot.statusOverridden = true;
    s->slot.statusOverride = {value[0], value[1]};
  }
  return {};
}

}  // namespace

void AddReaderStateFields(ReaderState* s, FieldTable* t) {
  t->Add(
      "Model", "model number, up to 20 characters", [s] { return s->model; },
      [s](std::string_view v) { return SetText(&s->model, v, kModelWidth); });
  t->Add(
      "SerialNumber", "serial number the reader reports, up to 6 characters",
      [s] { return s->serial; },
      [s](std::string_view v) { return SetText(&s->serial, v, kSerialWidth); });

  struct VersionField {
    const char* name;
    const char* help;
    VersionInfo ReaderState::*member;
    int sumDigits;
  };
  static const VersionField kVersions[] = {
      {"MaskVersion", "boot mask version TYPE,RV,SUM (6 hex digits)", &ReaderState::mask, 6},
      {"LoaderVersion", "loader version TYPE,RV,SUM (6 hex digits)", &ReaderState::loader, 6},
      {"FirmwareVersion", "firmware version TYPE,RV,SUM (8 hex digits)", &ReaderState::firmware, 8},
      {"IcVersion", "chip module firmware TYPE,RV,SUM (8 hex digits)", &ReaderState::icFirmware, 8},
      {"SamVersion", "SAM firmware TYPE,RV,SUM (8 hex digits)", &ReaderState::samFirmware, 8},
  };
  for (const VersionField& f : kVersions) {
    VersionInfo* v = &(s->*f.member);
    int digits = f.sumDigits;
    t->Add(
        f.name, f.help, [v, digits] { return FormatVersion(*v, digits); },
        [v, digits](std::string_view value) { return SetVersion(v, value, digits); });
  }

  t->Add(
      "Counters", "the 20 counters, comma-separated (a shorter list sets the first ones)",
      [s] { return FormatList(s->counters); },
      [s](std::string_view v) { return SetList(&s->counters, v, 99999999); });
  // What the reader counts in each, by index (see ReaderCounter).
  static const char* const kCounterMeaning[kCounterCount] = {
      "card insertions",    "magnetic track reads", "chip activations", "negative answers",
      "refused parameters", "undefined commands",   "link errors",      "resets",
      "device errors",      "track read errors",    "chip errors",      "contactless errors",
      "security events",    "download errors",      "cancels received", "not counted",
      "not counted",        "not counted",          "not counted",      "not counted",
  };
  for (size_t i = 0; i < kCounterCount; ++i) {
    t->AddNumber("Counter" + std::to_string(i + 1),
                 std::string(kCounterMeaning[i]) + " (offset " + std::to_string(5 + 8 * i) +
                     ", 0 to 99999999)",
                 0, kCounterMax, "a number from 0 to 99999999", &s->counters[i]);
  }
  t->Add(
      "Sensors", "the 4 sensor levels, comma-separated, 0 to 99",
      [s] { return FormatList(s->sensors); },
      [s](std::string_view v) { return SetList(&s->sensors, v, 99); });
  for (size_t i = 0; i < kSensorCount; ++i) {
    t->AddNumber("Sensor" + std::to_string(i + 1), "sensor level, 0 to 99", 0, 99,
                 "a number from 0 to 99", &s->sensors[i]);
  }

  // The card's tracks and the transaction setting come before the card's
  // position, so a scenario's card is read as it arrives.
  AddCardSlotFields(s, t);
  t->Add(
      "CardPosition", "where the card is: none, gate or inside",
      [s] { return std::string(kPositionNames[static_cast<size_t>(s->slot.position)]); },
      [s](std::string_view v) { return SetPosition(s, v); });
  t->Add(
      "ChipContact",
      "chip contacts of a card inside: released, lowered, powered, or memory0 to memory3 "
      "(a memory card of that type powered)",
      [s] { return FormatChipContact(s->slot); },
      [s](std::string_view v) { return SetChipContact(s, v); });
  t->Add(
      "CardStatus",
      "the two status characters of positive answers, from the card position and chip "
      "contacts (00 no card, 01 at the gate, 02 inside, 10 contacts lowered, 11 chip powered, "
      "2t memory card of type t); any other pair is reported as set until the card moves",
      [s] {
        std::array<char, 2> status = s->StatusCharacters();
        return std::string(status.data(), 2);
      },
      [s](std::string_view v) { return SetCardStatus(s, v); });
  t->Add(
      "DeviceError", "error code the status queries answer with, or none",
      [s] { return s->deviceError.empty() ? std::string("none") : s->deviceError; },
      [s](std::string_view v) {
        if (EqualsNoCase(v, "none") || v.empty()) {
          s->deviceError.clear();
          return std::string();
        }
        if (v.size() != 2 || !IsPrintable(v)) return std::string("two characters, or none");
        s->deviceError = std::string(v);
        return std::string();
      });
  t->Add(
      "Tracks", "readable magnetic tracks, digits out of 123, or none",
      [s] {
        std::string text;
        for (int track = 0; track < 3; ++track) {
          if (s->readableTracks & (1 << track)) text += static_cast<char>('1' + track);
        }
        return text.empty() ? std::string("none") : text;
      },
      [s](std::string_view v) {
        uint8_t mask = 0;
        if (!EqualsNoCase(v, "none")) {
          if (v.empty()) return std::string("digits out of 123, or none");
          for (char c : v) {
            if (c < '1' || c > '3') return std::string("digits out of 123, or none");
            mask |= static_cast<uint8_t>(1 << (c - '1'));
          }
        }
        s->readableTracks = mask;
        return std::string();
      });
  t->Add(
      "Contactless", "contactless capability digit, 0 to 7",
      [s] { return std::string(1, s->contactless); },
      [s](std::string_view v) {
        if (v.size() != 1 || v[0] < '0' || v[0] > '7') return std::string("a digit from 0 to 7");
        s->contactless = v[0];
        return std::string();
      });
  t->Add(
      "SamSupport", "SAM support digit: 0 none, 1 or 2",
      [s] { return std::string(1, s->samSupport); },
      [s](std::string_view v) {
        if (v.size() != 1 || v[0] < '0' || v[0] > '2') return std::string("0, 1 or 2");
        s->samSupport = v[0];
        return std::string();
      });
  t->Add(
      "SamSlots", "five characters, 1 for a fitted SAM slot, 0 for an empty one",
      [s] { return std::string(s->samSlots.data(), kSamSlotCount); },
      [s](std::string_view v) {
        if (v.size() != kSamSlotCount) return std::string("five characters out of 0 and 1");
        for (char c : v) {
          if (c != '0' && c != '1') return std::string("five characters out of 0 and 1");
        }
        for (size_t i = 0; i < kSamSlotCount; ++i) s->samSlots[i] = v[i];
        return std::string();
      });
  t->Add(
      "IccStandard", "chip card standard, two digits (00, 04, 05, 06) or ??",
      [s] { return FormatStandard(s->iccStandard); },
      [s](std::string_view v) { return SetStandard(&s->iccStandard, v); });
  t->Add(
      "SamStandard", "SAM standard, two digits or ??",
      [s] { return FormatStandard(s->samStandard); },
      [s](std::string_view v) { return SetStandard(&s->samStandard, v); });
  t->Add(
      "UndefinedCommandError", "error code answered to an unknown command",
      [s] { return std::string(s->undefinedCommandError.data(), 2); },
      [s](std::string_view v) { return SetTwoChars(&s->undefinedCommandError, v); });
  t->Add(
      "ParameterError", "error code answered to refused parameters",
      [s] { return std::string(s->parameterError.data(), 2); },
      [s](std::string_view v) { return SetTwoChars(&s->parameterError, v); });
  t->Add(
      "Led",
      "front LED: off, on or blink, then colour=1-3 (green, red, orange), cycle=1-5, "
      "control=manual|automatic",
      [s] { return FormatLed(s->led); }, [s](std::string_view v) { return SetLed(&s->led, v); });
  t->Add("Resets", "resets executed: counter 8 (read-only here)",
         [s] { return std::to_string(s->Counter(ReaderCounter::kResets)); });
  t->Add("Cancels", "cancels received: counter 15 (read-only here)",
         [s] { return std::to_string(s->Counter(ReaderCounter::kCancels)); });
  AddChipFields(s, t);
  AddContactlessFields(s, t);
}

}  // namespace q7msim
