#include "card_control.h"

#include "reader.h"
#include "text_util.h"

namespace q7msim {

namespace {

std::string Insert(Reader* reader, const std::vector<std::string>& words) {
  ReaderState& s = reader->state();
  MagCard card;
  bool gate = false;
  bool tracksGiven = false;
  for (size_t i = 0; i < words.size(); ++i) {
    std::string_view word = words[i];
    if (word == "--gate") {
      gate = true;
      continue;
    }
    std::string_view value;
    int track = -1;
    for (int t = 0; t < 3; ++t) {
      const std::string option = "--track" + std::to_string(t + 1);
      if (word == option) {
        if (i + 1 == words.size()) return option + " needs a value";
        track = t;
        value = words[++i];
      } else if (word.size() > option.size() && word.substr(0, option.size() + 1) == option + "=") {
        track = t;
        value = word.substr(option.size() + 1);
      }
    }
    if (track < 0) return "unknown option '" + std::string(word) + "'";
    std::string problem;
    if (!ParseTrackSpec(value, &card[static_cast<size_t>(track)], &problem))
      return "track " + std::to_string(track + 1) + ": " + problem;
    tracksGiven = true;
  }
  if (s.transport.jammed) return "the card is jammed";
  if (s.slot.position == CardPosition::kInside) return "a card is inside already";
  if (s.slot.position == CardPosition::kGate) {
    // The card waiting in the throat is pushed in.
    if (tracksGiven) return "a card is in the throat already";
    if (gate) return {};
    s.MoveCard(CardPosition::kInside);
    return {};
  }
  s.transport.card = card;
  s.MoveCard(gate ? CardPosition::kGate : CardPosition::kInside);
  return {};
}

std::string TakeOut(Reader* reader, bool all, std::string* note) {
  ReaderState& s = reader->state();
  if (s.slot.position == CardPosition::kNone) return "no card in the slot";
  if (s.transport.jammed) return "the card is jammed";
  if (s.transport.locked) return "the card is locked";
  if (s.slot.position == CardPosition::kInside) {
    s.MoveCard(CardPosition::kGate);
    if (s.transport.locked) {
      *note = "held in the throat by the pull-out lock\n";
      return {};
    }
  }
  if (all) s.MoveCard(CardPosition::kNone);
  return {};
}

}  // namespace

bool IsCardControlVerb(std::string_view verb) {
  for (const char* v : {"insert", "pull", "remove", "jam", "unjam"}) {
    if (EqualsNoCase(verb, v)) return true;
  }
  return false;
}

std::vector<std::string> SplitQuoted(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i == text.size()) break;
    std::string word;
    bool quoted = false;
    for (; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '"') {
        quoted = !quoted;
      } else if (quoted && c == '\\' && i + 1 < text.size()) {
        word += text[++i];
      } else if (!quoted && (c == ' ' || c == '\t')) {
        break;
      } else {
        word += c;
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::string RunCardControl(Reader* reader, std::string_view verb, std::string_view args,
                           std::string* note) {
  const std::vector<std::string> words = SplitQuoted(args);
  ReaderState& s = reader->state();
  if (EqualsNoCase(verb, "insert")) return Insert(reader, words);
  if (!words.empty() && !EqualsNoCase(verb, "jam"))
    return std::string(verb) + " takes nothing after the reader";
  if (EqualsNoCase(verb, "pull")) {
    if (s.slot.position != CardPosition::kInside) return "no card inside";
    return TakeOut(reader, false, note);
  }
  if (EqualsNoCase(verb, "remove")) return TakeOut(reader, true, note);
  if (EqualsNoCase(verb, "unjam")) {
    s.transport.jammed = false;
    return {};
  }
  // jam [code=XX]
  std::array<char, 2> code{'0', '5'};
  if (words.size() > 1) return "jam READER [code=XX]";
  if (words.size() == 1) {
    const std::string& w = words[0];
    if (w.size() != 7 || w.compare(0, 5, "code=") != 0 || !IsPrintable(w))
      return "jam READER [code=XX]";
    code = {w[5], w[6]};
  }
  if (s.slot.position == CardPosition::kNone) return "no card to jam";
  s.transport.jammed = true;
  s.transport.jamError = code;
  return {};
}

}  // namespace q7msim
