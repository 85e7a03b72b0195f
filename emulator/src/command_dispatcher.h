// Routes each command message to the handler of its two-character command
// code. The command families register their handlers at start-up (see
// reader_commands.h for the one list of every code), so new commands plug in
// without touching the links.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "reader_state.h"
#include "response_buffer.h"

namespace q7msim {

// What a handler gets: the reader, the command's code and parameters, and the
// answer to fill. A handler must leave exactly one response in `response`.
struct CommandContext {
  ReaderState& state;
  const char* code;  // the two characters after "C"
  const uint8_t* params;
  size_t paramSize;
  ResponseBuffer& response;

  // "P", the code and the reader's status characters; data follows.
  void Accept() {
    std::array<char, 2> status = state.StatusCharacters();
    response.Positive(code, status.data());
  }
  // "N", the code and the reader's parameter error.
  void RefuseParameters() {
    state.Count(ReaderCounter::kParameterErrors);
    response.Negative(code, state.parameterError.data());
  }
  // "N", the code and the reader's undefined-command error: the answer to a
  // code the reader does not know, or one whose family is not built yet.
  void RefuseCommand() {
    state.Count(ReaderCounter::kUndefinedCommands);
    response.Negative(code, state.undefinedCommandError.data());
  }
  bool HasParams(size_t count) const { return paramSize == count; }
};

using CommandHandler = void (*)(CommandContext& context);

// The two code characters of a command message ("C" + code + parameters);
// empty when the message is no command (the cancel, or too short).
std::string_view CommandCodeOf(const uint8_t* message, size_t size);
using CancelHook = void (*)(ReaderState& state);
// Runs before a command's handler; a gate that answers the command itself
// (true) keeps the handler from running.
using GateHook = bool (*)(CommandContext& context);

class CommandDispatcher {
 public:
  CommandDispatcher();

  // False when `code` is not two printable characters or already taken.
  bool Register(std::string_view code, CommandHandler handler);
  bool Knows(std::string_view code) const;
  // Runs when the reader receives a cancel, before it answers "E".
  void AddCancelHook(CancelHook hook) { cancelHooks_.push_back(hook); }
  void AddGate(GateHook gate) { gates_.push_back(gate); }

  // Answers one command message. Every message gets exactly one answer: the
  // cancel "E" is answered "E"; a message that is not a command, or whose
  // code has no handler, is answered "N" with the undefined-command error.
  void Execute(ReaderState& state, const uint8_t* message, size_t size,
               ResponseBuffer* response) const;

 private:
  static int Slot(char first, char second);
  std::vector<CommandHandler> table_;
  std::vector<CancelHook> cancelHooks_;
  std::vector<GateHook> gates_;
};

}  // namespace q7msim
