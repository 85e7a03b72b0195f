// The control commands that handle the card, as a customer at the slot
// would:
//   insert READER [--track1 T] [--track2 T] [--track3 T] [--gate]
//                                 a card goes in (to the throat with --gate);
//                                 T as the Track1 field: characters, blank,
//                                 error=XX or error=XX:DATA; "..." for blanks
//   pull READER                   the card is drawn back into the throat
//   remove READER                 the card is taken out
//   jam READER [code=XX]          the card sticks (the reader answers XX, 05)
//   unjam READER                  it moves again
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace q7msim {

class Reader;

bool IsCardControlVerb(std::string_view verb);

// Runs one of the verbs above on `reader`; `args` are the words after the
// reader's name, as typed. Empty text on success, else why not; `note`
// receives what the answer should add.
std::string RunCardControl(Reader* reader, std::string_view verb, std::string_view args,
                           std::string* note);

// Splits at blanks; "..." keeps blanks (\" and \\ inside stand for " and \).
std::vector<std::string> SplitQuoted(std::string_view text);

}  // namespace q7msim
