#include "apdu_responder.h"

#include <algorithm>
#include <cstring>

#include "text_util.h"

namespace q7msim {

namespace {

constexpr uint16_t kOk = 0x9000;
constexpr uint16_t kWrongLength = 0x6700;
constexpr uint16_t kNotFound = 0x6A82;
constexpr uint16_t kRecordNotFound = 0x6A83;
constexpr uint16_t kNoData = 0x6985;
constexpr uint16_t kUnknownInstruction = 0x6D00;
constexpr uint16_t kUnknownClass = 0x6E00;

constexpr uint8_t kSelect = 0xA4;
constexpr uint8_t kReadRecord = 0xB2;
constexpr uint8_t kGetResponse = 0xC0;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool DecodeHex(std::string_view text, size_t max, std::vector<uint8_t>* bytes) {
  text = Trim(text);
  if (text.size() % 2 != 0 || text.size() / 2 > max) return false;
  bytes->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

std::string EncodeHex(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

void CardAnswer::Set(const uint8_t* data, size_t count, uint16_t statusWord) {
  count = data != nullptr ? std::min(count, kMaxCardAnswer - 2) : 0;
  if (data != nullptr && count > 0) std::memcpy(bytes, data, count);
  bytes[count] = static_cast<uint8_t>(statusWord >> 8);
  bytes[count + 1] = static_cast<uint8_t>(statusWord);
  size = count + 2;
}

void ApduResponder::Answer(const uint8_t* data, size_t count, bool t0, CardAnswer* answer) {
  if (!t0 || count == 0) return answer->Set(data, count, kOk);
  // T=0 cannot send data with the status word of a command that carried
  // data: the card announces it and waits for GET RESPONSE.
  pendingSize_ = std::min(count, sizeof pending_);
  std::memmove(pending_, data, pendingSize_);
  answer->Set(nullptr, 0, static_cast<uint16_t>(0x6100 | (pendingSize_ > 255 ? 0 : pendingSize_)));
}

void ApduResponder::Respond(const uint8_t* apdu, size_t size, bool t0, CardAnswer* answer) {
  for (const Rule& rule : table) {
    if (rule.command.size() == size && std::equal(rule.command.begin(), rule.command.end(), apdu)) {
      // A configured answer is given as it stands, status word included.
      const size_t n = std::min(rule.answer.size(), kMaxCardAnswer);
      std::memcpy(answer->bytes, rule.answer.data(), n);
      answer->size = n;
      return;
    }
  }
  if (size < 4) return answer->Set(nullptr, 0, kWrongLength);
  if (apdu[0] != 0x00) return answer->Set(nullptr, 0, kUnknownClass);
  const uint8_t ins = apdu[1];
  if (ins == kGetResponse) {
    if (pendingSize_ == 0) return answer->Set(nullptr, 0, kNoData);
    size_t wanted = size >= 5 ? apdu[4] : 0;
    if (wanted == 0 || wanted > pendingSize_) wanted = pendingSize_;
    answer->Set(pending_, wanted, kOk);
    std::memmove(pending_, pending_ + wanted, pendingSize_ - wanted);
    pendingSize_ -= wanted;
    return;
  }
  pendingSize_ = 0;
  if (ins == kSelect && apdu[2] == 0x04) {
    const size_t lc = size >= 5 ? apdu[4] : 0;
    if (size < 5 + lc) return answer->Set(nullptr, 0, kWrongLength);
    if (!aid.empty() && lc == aid.size() && std::equal(aid.begin(), aid.end(), apdu + 5))
      return Answer(fci.data(), fci.size(), t0, answer);
    return answer->Set(nullptr, 0, kNotFound);
  }
  if (ins == kReadRecord) {
    const uint8_t number = apdu[2];
    const uint8_t sfi = static_cast<uint8_t>(apdu[3] >> 3);
    for (const Record& record : records) {
      if (record.sfi == sfi && record.number == number)
        return Answer(record.data.data(), record.data.size(), t0, answer);
    }
    return answer->Set(nullptr, 0, kRecordNotFound);
  }
  answer->Set(nullptr, 0, kUnknownInstruction);
}

std::string ApduResponder::SetApplication(std::string_view text) {
  text = Trim(text);
  if (text.empty() || EqualsNoCase(text, "none")) {
    aid.clear();
    fci.clear();
    return {};
  }
  const size_t eq = text.find('=');
  std::vector<uint8_t> newAid, newFci;
  if (eq == std::string_view::npos || !DecodeHex(text.substr(0, eq), 16, &newAid) ||
      newAid.empty() || !DecodeHex(text.substr(eq + 1), kMaxCardAnswer - 2, &newFci))
    return "AID=FCI in hexadecimal (AID 1 to 16 bytes), or none";
  aid = std::move(newAid);
  fci = std::move(newFci);
  return {};
}

std::string ApduResponder::FormatApplication() const {
  if (aid.empty()) return "none";
  return EncodeHex(aid) + "=" + EncodeHex(fci);
}

std::string ApduResponder::SetRecords(std::string_view text) {
  std::vector<Record> next;
  if (!EqualsNoCase(Trim(text), "none")) {
    for (std::string_view item : SplitList(text, ',')) {
      const size_t dot = item.find('.');
      const size_t eq = item.find('=');
      uint64_t sfi = 0, number = 0;
      Record record;
      if (dot == std::string_view::npos || eq == std::string_view::npos || eq < dot ||
          !ParseUnsigned(item.substr(0, dot), 30, &sfi) || sfi == 0 ||
          !ParseUnsigned(item.substr(dot + 1, eq - dot - 1), 255, &number) || number == 0 ||
          !DecodeHex(item.substr(eq + 1), kMaxCardAnswer - 2, &record.data))
        return "SFI.RECORD=HEX,... (SFI 1 to 30, record 1 to 255), or none";
      record.sfi = static_cast<uint8_t>(sfi);
      record.number = static_cast<uint8_t>(number);
      next.push_back(std::move(record));
    }
  }
  records = std::move(next);
  return {};
}

std::string ApduResponder::FormatRecords() const {
  std::string text;
  for (const Record& record : records) {
    if (!text.empty()) text += ",";
    text += std::to_string(record.sfi) + "." + std::to_string(record.number) + "=" +
            EncodeHex(record.data);
  }
  return text.empty() ? "none" : text;
}

std::string ApduResponder::SetTable(std::string_view text) {
  std::vector<Rule> next;
  if (!EqualsNoCase(Trim(text), "none")) {
    for (std::string_view item : SplitList(text, ';')) {
      const size_t eq = item.find('=');
      Rule rule;
      if (eq == std::string_view::npos || !DecodeHex(item.substr(0, eq), 4096, &rule.command) ||
          rule.command.empty() || !DecodeHex(item.substr(eq + 1), kMaxCardAnswer, &rule.answer))
        return "COMMAND=ANSWER;... in hexadecimal (the answer with its status word), or none";
      next.push_back(std::move(rule));
    }
  }
  table = std::move(next);
  return {};
}

std::string ApduResponder::FormatTable() const {
  std::string text;
  for (const Rule& rule : table) {
    if (!text.empty()) text += ";";
    text += EncodeHex(rule.command) + "=" + EncodeHex(rule.answer);
  }
  return text.empty() ? "none" : text;
}

}  // namespace q7msim
