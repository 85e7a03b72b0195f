// The chip side and the contactless field as named fields, so the scenario
// file, --set and `q7m-sim ctl set` configure them with one parser each.
#include <string>

#include "reader_fields.h"
#include "text_util.h"

namespace q7msim {

namespace {

std::string SetProtocol(char* target, std::string_view v) {
  if (EqualsNoCase(v, "T0") || v == "0") {
    *target = '0';
  } else if (EqualsNoCase(v, "T1") || v == "1") {
    *target = '1';
  } else {
    return "T0 or T1";
  }
  return {};
}

std::string FormatProtocol(char protocol) {
  return protocol == '1' ? "T1" : "T0";
}

std::string SetAtr(std::vector<uint8_t>* atr, std::string_view v) {
  std::vector<uint8_t> bytes;
  if (!DecodeHex(v, 33, &bytes) || bytes.empty()) return "1 to 33 bytes in hexadecimal";
  *atr = std::move(bytes);
  return {};
}

std::string FormatSam(const SamModule& sam) {
  if (!sam.present) return "none";
  return "atr=" + EncodeHex(sam.atr) + " protocol=" + FormatProtocol(sam.protocol) +
         " status=" + std::string(sam.status.data(), 2) + (sam.active ? " active" : "");
}

// "none" or "atr=HEX protocol=T0|T1 status=XX": what is not named stays.
std::string SetSam(SamModule* sam, std::string_view v) {
  auto words = SplitWords(v);
  if (words.size() == 1 && EqualsNoCase(words[0], "none")) {
    sam->present = false;
    sam->active = false;
    sam->chain.Clear();
    return {};
  }
  SamModule next = *sam;
  next.present = true;
  for (std::string_view word : words) {
    const size_t eq = word.find('=');
    const std::string_view name = word.substr(0, eq);
    const std::string_view value = eq == std::string_view::npos ? "" : word.substr(eq + 1);
    std::string problem;
    if (EqualsNoCase(name, "atr")) {
      problem = SetAtr(&next.atr, value);
    } else if (EqualsNoCase(name, "protocol")) {
      problem = SetProtocol(&next.protocol, value);
    } else if (EqualsNoCase(name, "status") && value.size() == 2 && IsPrintable(value)) {
      next.status = {value[0], value[1]};
    } else if (EqualsNoCase(name, "present")) {
      continue;
    } else {
      problem = "none, or atr=HEX protocol=T0|T1 status=XX";
    }
    if (!problem.empty()) return problem;
  }
  next.chain.Clear();
  *sam = next;
  return {};
}

std::string FormatMemoryCard(const MemoryCard& m) {
  if (!m.present) return "none";
  std::string text = "type=" + std::to_string(m.type) + " data=" + EncodeHex(m.data);
  if (MemoryCard::PscSizeOf(m.type) != 0)
    text += " psc=" + EncodeHex(m.psc) + " tries=" + std::to_string(m.triesLeft);
  return text;
}

// "none" or "type=0..3 [data=HEX] [psc=HEX] [tries=N]".
std::string SetMemoryCard(MemoryCard* m, std::string_view v) {
  auto words = SplitWords(v);
  if (words.size() == 1 && EqualsNoCase(words[0], "none")) {
    m->present = false;
    return {};
  }
  MemoryCard next;
  next.present = true;
  std::string_view data, psc, tries;
  bool typed = false;
  for (std::string_view word : words) {
    const size_t eq = word.find('=');
    const std::string_view name = word.substr(0, eq);
    const std::string_view value = eq == std::string_view::npos ? "" : word.substr(eq + 1);
    uint64_t n = 0;
    if (EqualsNoCase(name, "type") && ParseUnsigned(value, 3, &n)) {
      next.type = static_cast<uint8_t>(n);
      typed = true;
    } else if (EqualsNoCase(name, "data")) {
      data = value;
    } else if (EqualsNoCase(name, "psc")) {
      psc = value;
    } else if (EqualsNoCase(name, "tries")) {
      tries = value;
    } else {
      return "none, or type=0..3 [data=HEX] [psc=HEX] [tries=N]";
    }
  }
  if (!typed) return "type=0..3 is required";
  const size_t size = MemoryCard::SizeOf(next.type);
  next.data.assign(size, 0xFF);
  std::vector<uint8_t> bytes;
  if (!data.empty()) {
    if (!DecodeHex(data, size, &bytes)) return "data: at most " + std::to_string(size) + " bytes";
    std::copy(bytes.begin(), bytes.end(), next.data.begin());
  }
  const size_t pscSize = MemoryCard::PscSizeOf(next.type);
  next.psc.assign(pscSize, 0xFF);
  next.triesLeft = MemoryCard::TriesOf(next.type);
  if (!psc.empty()) {
    if (pscSize == 0) return "this type has no verification data";
    if (!DecodeHex(psc, pscSize, &bytes) || bytes.size() != pscSize)
      return "psc: " + std::to_string(pscSize) + " bytes in hexadecimal";
    next.psc = bytes;
  }
  if (!tries.empty()) {
    uint64_t n = 0;
    if (pscSize == 0 || !ParseUnsigned(tries, MemoryCard::TriesOf(next.type), &n))
      return "tries: 0 to " + std::to_string(MemoryCard::TriesOf(next.type));
    next.triesLeft = static_cast<uint32_t>(n);
  }
  *m = next;
  return {};
}

void AddResponderFields(FieldTable* t, const std::string& prefix, const std::string& what,
                        ApduResponder* apps, bool withApplication) {
  if (withApplication) {
    t->Add(
        prefix + "Application", what + ": AID=FCI that SELECT by name finds (hex), or none",
        [apps] { return apps->FormatApplication(); },
        [apps](std::string_view v) { return apps->SetApplication(v); });
    t->Add(
        prefix + "Records", what + ": records READ RECORD finds, SFI.REC=HEX,... or none",
        [apps] { return apps->FormatRecords(); },
        [apps](std::string_view v) { return apps->SetRecords(v); });
  }
  t->Add(
      prefix + "ApduTable",
      what + ": COMMAND=ANSWER;... (hex, answer with status word) tried before anything else",
      [apps] { return apps->FormatTable(); },
      [apps](std::string_view v) { return apps->SetTable(v); });
}

}  // namespace

void AddChipFields(ReaderState* s, FieldTable* t) {
  ChipSide* chip = &s->chipSide;
  t->AddSwitch("ChipPresent", "the card in the slot has a contact chip", &chip->card.present);
  t->Add(
      "ChipAtr", "the chip card's answer to reset, 1 to 33 bytes in hexadecimal",
      [chip] { return EncodeHex(chip->card.atr); },
      [chip](std::string_view v) { return SetAtr(&chip->card.atr, v); });
  t->Add(
      "ChipProtocol", "the chip card's protocol: T0 or T1",
      [chip] { return FormatProtocol(chip->card.protocol); },
      [chip](std::string_view v) { return SetProtocol(&chip->card.protocol, v); });
  t->Add(
      "ChipAtrError",
      "error code the reader gives with the answer to reset (e.g. 87: irregular answer), or "
      "none",
      [chip] { return chip->card.atrError.empty() ? std::string("none") : chip->card.atrError; },
      [chip](std::string_view v) {
        if (EqualsNoCase(v, "none") || v.empty()) {
          chip->card.atrError.clear();
          return std::string();
        }
        if (v.size() != 2 || !IsPrintable(v)) return std::string("two characters, or none");
        chip->card.atrError = std::string(v);
        return std::string();
      });
  AddResponderFields(t, "Chip", "chip card", &chip->card.apps, true);
  t->AddNumber("ChainPartSize",
               "data bytes per reply part of a chained chip, SAM or Type B answer, 1 to 1040", 1,
               1040, "a number from 1 to 1040", &chip->partSize);
  t->Add(
      "ChipMissingError", "error code for a chip, SAM, memory card or contactless card not there",
      [chip] { return std::string(chip->missingError.data(), 2); },
      [chip](std::string_view v) {
        if (v.size() != 2 || !IsPrintable(v)) return std::string("two printable characters");
        chip->missingError = {v[0], v[1]};
        return std::string();
      });
  for (size_t i = 0; i < kEmulatedSamSlots; ++i) {
    SamModule* sam = &chip->sams[i];
    t->Add(
        "Sam" + std::to_string(i + 1),
        "SAM in slot " + std::to_string(i + 1) +
            ": none, or atr=HEX protocol=T0|T1 status=XX (XX what the status query reports)",
        [sam] { return FormatSam(*sam); }, [sam](std::string_view v) { return SetSam(sam, v); });
  }
  AddResponderFields(t, "Sam", "every SAM", &chip->samApps, false);
  t->Add(
      "MemoryCard",
      "memory card in the slot: none, or type=0..3 (SLE 4442, 4432, 4428, 4418) [data=HEX] "
      "[psc=HEX] [tries=N]",
      [chip] { return FormatMemoryCard(chip->memory); },
      [chip](std::string_view v) { return SetMemoryCard(&chip->memory, v); });
}

void AddContactlessFields(ReaderState* s, FieldTable* t) {
  ContactlessSide* side = &s->contactlessSide;
  t->Add("ContactlessField", "the contactless field: on or off (read-only here)",
         [side] { return std::string(side->fieldOn ? "on" : "off"); });
  for (size_t i = 0; i < kFieldCardSlots; ++i) {
    const int slot = static_cast<int>(i);
    t->Add(
        "Contactless" + std::to_string(i + 1),
        "contactless card " + std::to_string(i + 1) +
            " in the field: none, other, mifare uid=HEX8 [keyA=HEX12] [keyB=HEX12] "
            "[keyA.S=..] [keyB.S=..] [block.N=HEX32]..., or typeb id=HEX8 [app=HEX8] "
            "[protocol=HEX6] [attrib=HEX]",
        [side, slot] { return FormatFieldCard(side->cards[static_cast<size_t>(slot)]); },
        [side, slot](std::string_view v) {
          FieldCard card;
          std::string problem = ParseFieldCard(v, &card);
          if (!problem.empty()) return problem;
          side->Forget(slot);
          side->cards[static_cast<size_t>(slot)] = card;
          return std::string();
        });
  }
  AddResponderFields(t, "TypeB", "every Type B card", &side->typeBApps, true);
}

}  // namespace q7msim
