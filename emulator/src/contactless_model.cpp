#include "contactless_model.h"

#include <cstring>

#include "text_util.h"

namespace q7msim {

namespace {

template <size_t N>
bool DecodeFixed(std::string_view text, std::array<uint8_t, N>* out) {
  std::vector<uint8_t> bytes;
  if (!DecodeHex(text, N, &bytes) || bytes.size() != N) return false;
  std::memcpy(out->data(), bytes.data(), N);
  return true;
}

template <size_t N>
std::string Hex(const std::array<uint8_t, N>& bytes) {
  return EncodeHex(bytes.data(), N);
}

bool IsZero(const std::array<uint8_t, kMifareBlockSize>& block) {
  for (uint8_t b : block) {
    if (b != 0) return false;
  }
  return true;
}

// A fresh Mifare card: transport keys and empty blocks.
void InitMifare(FieldCard* card) {
  for (auto& key : card->keyA) key.fill(0xFF);
  for (auto& key : card->keyB) key.fill(0xFF);
  for (auto& block : card->blocks) block.fill(0);
}

void FinishMifare(FieldCard* card) {
  auto& zero = card->blocks[0];
  std::memcpy(zero.data(), card->id.data(), 4);
  zero[4] = static_cast<uint8_t>(card->id[0] ^ card->id[1] ^ card->id[2] ^ card->id[3]);
  for (size_t s = 0; s < kMifareSectors; ++s) {
    auto& trailer = card->blocks[s * 4 + 3];
    std::memcpy(trailer.data(), card->keyA[s].data(), 6);
    trailer[6] = 0xFF;
    trailer[7] = 0x07;
    trailer[8] = 0x80;
    trailer[9] = 0x69;
    std::memcpy(trailer.data() + 10, card->keyB[s].data(), 6);
  }
}

}  // namespace

int ContactlessSide::Find(FieldCardKind kind, const uint8_t* id) const {
  for (size_t i = 0; i < cards.size(); ++i) {
    if (cards[i].kind == kind && std::memcmp(cards[i].id.data(), id, 4) == 0)
      return static_cast<int>(i);
  }
  return -1;
}

std::string FormatFieldCard(const FieldCard& card) {
  switch (card.kind) {
    case FieldCardKind::kNone:
      return "none";
    case FieldCardKind::kOther:
      return "other";
    case FieldCardKind::kTypeB:
      return "typeb id=" + Hex(card.id) + " app=" + Hex(card.application) +
             " protocol=" + Hex(card.protocol) + " attrib=" + EncodeHex(card.attributes);
    case FieldCardKind::kMifare:
      break;
  }
  std::string text = "mifare uid=" + Hex(card.id);
  for (size_t s = 0; s < kMifareSectors; ++s) {
    text += " keyA." + std::to_string(s) + "=" + Hex(card.keyA[s]);
    text += " keyB." + std::to_string(s) + "=" + Hex(card.keyB[s]);
  }
  // Block 0 and the trailers follow from the identifier and keys.
  for (size_t b = 1; b < kMifareBlocks; ++b) {
    if (b % 4 == 3 || IsZero(card.blocks[b])) continue;
    text += " block." + std::to_string(b) + "=" + Hex(card.blocks[b]);
  }
  return text;
}

std::string ParseFieldCard(std::string_view text, FieldCard* out) {
  auto words = SplitWords(text);
  if (words.empty()) return "none, other, mifare uid=... or typeb id=...";
  FieldCard card;
  if (EqualsNoCase(words[0], "none")) {
    if (words.size() != 1) return "none takes nothing more";
    *out = card;
    return {};
  }
  if (EqualsNoCase(words[0], "other")) {
    if (words.size() != 1) return "other takes nothing more";
    card.kind = FieldCardKind::kOther;
    *out = card;
    return {};
  }
  bool mifare = EqualsNoCase(words[0], "mifare");
  if (!mifare && !EqualsNoCase(words[0], "typeb"))
    return "none, other, mifare uid=... or typeb id=...";
  card.kind = mifare ? FieldCardKind::kMifare : FieldCardKind::kTypeB;
  if (mifare) InitMifare(&card);
  bool haveId = false;
  // Per-sector keys and blocks are applied after the keys of all sectors.
  std::vector<std::string_view> later;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string_view word = words[i];
    const size_t eq = word.find('=');
    if (eq == std::string_view::npos) return "'" + std::string(word) + "': NAME=VALUE expected";
    const std::string_view name = word.substr(0, eq);
    const std::string_view value = word.substr(eq + 1);
    if (EqualsNoCase(name, mifare ? "uid" : "id")) {
      if (!DecodeFixed(value, &card.id)) return std::string(name) + ": 4 bytes in hexadecimal";
      haveId = true;
    } else if (mifare && (EqualsNoCase(name, "keyA") || EqualsNoCase(name, "keyB"))) {
      std::array<uint8_t, 6> key;
      if (!DecodeFixed(value, &key)) return std::string(name) + ": 6 bytes in hexadecimal";
      auto& keys = EqualsNoCase(name, "keyA") ? card.keyA : card.keyB;
      keys.fill(key);
    } else if (mifare && (name.size() > 5 && (EqualsNoCase(name.substr(0, 5), "keyA.") ||
                                              EqualsNoCase(name.substr(0, 5), "keyB.")))) {
      later.push_back(word);
    } else if (mifare && name.size() > 6 && EqualsNoCase(name.substr(0, 6), "block.")) {
      later.push_back(word);
    } else if (!mifare && EqualsNoCase(name, "app")) {
      if (!DecodeFixed(value, &card.application)) return "app: 4 bytes in hexadecimal";
    } else if (!mifare && EqualsNoCase(name, "protocol")) {
      if (!DecodeFixed(value, &card.protocol)) return "protocol: 3 bytes in hexadecimal";
    } else if (!mifare && EqualsNoCase(name, "attrib")) {
      if (!DecodeHex(value, 256, &card.attributes)) return "attrib: up to 256 bytes in hexadecimal";
    } else {
      return "unknown setting '" + std::string(name) + "'";
    }
  }
  if (!haveId) return mifare ? "mifare needs uid=" : "typeb needs id=";
  for (std::string_view word : later) {
    const size_t eq = word.find('=');
    const std::string_view name = word.substr(0, eq);
    const std::string_view value = word.substr(eq + 1);
    const size_t dot = name.find('.');
    uint64_t index = 0;
    if (EqualsNoCase(name.substr(0, dot), "block")) {
      if (!ParseUnsigned(name.substr(dot + 1), kMifareBlocks - 1, &index))
        return "block.N: N from 0 to 63";
      if (!DecodeFixed(value, &card.blocks[index])) return "block.N: 16 bytes in hexadecimal";
    } else {
      if (!ParseUnsigned(name.substr(dot + 1), kMifareSectors - 1, &index))
        return "keyA.S / keyB.S: S from 0 to 15";
      auto& keys = EqualsNoCase(name.substr(0, dot), "keyA") ? card.keyA : card.keyB;
      if (!DecodeFixed(value, &keys[index])) return std::string(name) + ": 6 bytes in hexadecimal";
    }
  }
  // Block 0 begins with the identifier and its check byte and each trailer
  // holds its sector's keys, whatever block.N said for them.
  if (mifare) FinishMifare(&card);
  *out = card;
  return {};
}

}  // namespace q7msim
