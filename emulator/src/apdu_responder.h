// A small card application answering command APDUs the way a chip card
// does: SELECT by name, READ RECORD, GET RESPONSE (T=0 answers data in two
// steps, "61 xx" first), a table of command -> response for anything else,
// and the status words a card gives when it does not know what was asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace q7msim {

// The longest answer the emulated cards give (data and status word).
constexpr size_t kMaxCardAnswer = 8192;

struct CardAnswer {
  uint8_t bytes[kMaxCardAnswer];
  size_t size = 0;
  void Set(const uint8_t* data, size_t count, uint16_t statusWord);
};

class ApduResponder {
 public:
  // The application SELECT by name finds, and what it answers.
  std::vector<uint8_t> aid;
  std::vector<uint8_t> fci;
  // READ RECORD: (short file id, record number) -> record data.
  struct Record {
    uint8_t sfi;
    uint8_t number;
    std::vector<uint8_t> data;
  };
  std::vector<Record> records;
  // Exact command -> whole answer (data and status word).
  struct Rule {
    std::vector<uint8_t> command;
    std::vector<uint8_t> answer;
  };
  std::vector<Rule> table;

  // Answers one command APDU. With `t0`, data is announced with "61 xx" and
  // handed out by GET RESPONSE.
  void Respond(const uint8_t* apdu, size_t size, bool t0, CardAnswer* answer);
  void Reset() { pendingSize_ = 0; }

  // Field texts: "AID=FCI", "SFI.REC=DATA,...", "CMD=ANSWER;...", in hex.
  std::string SetApplication(std::string_view text);
  std::string FormatApplication() const;
  std::string SetRecords(std::string_view text);
  std::string FormatRecords() const;
  std::string SetTable(std::string_view text);
  std::string FormatTable() const;

 private:
  void Answer(const uint8_t* data, size_t count, bool t0, CardAnswer* answer);
  uint8_t pending_[kMaxCardAnswer];
  size_t pendingSize_ = 0;
};

// Hex text (any case, pairs of digits) to bytes; false when malformed or
// longer than `max` bytes.
bool DecodeHex(std::string_view text, size_t max, std::vector<uint8_t>* bytes);
std::string EncodeHex(const uint8_t* bytes, size_t size);
inline std::string EncodeHex(const std::vector<uint8_t>& bytes) {
  return EncodeHex(bytes.data(), bytes.size());
}

}  // namespace q7msim
