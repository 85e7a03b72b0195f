#include "control_commands.h"

#include <string>
#include <vector>

#include "card_control.h"
#include "simulator.h"
#include "text_util.h"

namespace q7msim {

namespace {

std::string Ok(const std::string& body = {}) {
  return "OK\n" + body;
}
std::string Err(const std::string& reason) {
  return "ERR " + reason + "\n";
}

// The rest of the request after the first `skip` words, as typed.
std::string_view Rest(std::string_view request, size_t skip) {
  std::string_view rest = Trim(request);
  for (size_t i = 0; i < skip; ++i) {
    size_t blank = rest.find_first_of(" \t");
    if (blank == std::string_view::npos) return {};
    rest = Trim(rest.substr(blank));
  }
  return rest;
}

const char* LinkName(const Reader& reader) {
  Link* link = const_cast<Reader&>(reader).link();
  if (!link) return "none";
  return link->kind() == LinkKind::kSerial ? "serial" : "usb";
}

}  // namespace

const char* ControlCommandHelp() {
  return "  list                        readers with their link and address\n"
         "  status [READER]             all fields, link counters and armed faults\n"
         "  get READER FIELD            one field\n"
         "  set READER FIELD VALUE      change a field (see --list-fields)\n"
         "  fault READER SPEC           arm a fault (see --list-faults), e.g.\n"
         "                                fault r1 nak count=2\n"
         "                                fault r1 late ms=400\n"
         "                                fault r1 bad-bcc rate=0.1\n"
         "                                fault r1 error code=46 cmd=6a\n"
         "                                fault r1 cancel-reply cmd=10\n"
         "                                fault r1 reply data=50313030 cmd=10\n"
         "                                fault r1 no-answer cmd=M0\n"
         "                                fault r1 dsr-off | dsr-on\n"
         "                                fault r2 unplug ms=500 | replug\n"
         "                                fault r1 clear nak | clear\n"
         "  clear READER                clear every armed fault\n"
         "  unplug READER [ms=N]        unplug a USB reader (replug after N ms)\n"
         "  replug READER               plug it in again\n"
         "  insert READER [--track1 T] [--track2 T] [--track3 T] [--gate]\n"
         "                              a card goes in (T: characters, blank, error=XX[:DATA])\n"
         "  pull READER / remove READER the card back to the throat / out of the slot\n"
         "  jam READER [code=XX] / unjam READER\n"
         "  mark TEXT                   write a MARK line into the wire log\n"
         "  quit                        stop the emulator\n"
         "  help                        this text\n";
}

std::string RunControlCommand(Simulator* sim, std::string_view request) {
  auto words = SplitWords(request);
  if (words.empty()) return Err("empty command");
  std::string_view verb = words[0];

  if (EqualsNoCase(verb, "help")) return Ok(ControlCommandHelp());
  if (EqualsNoCase(verb, "quit")) {
    sim->loop().Stop(0);
    return Ok();
  }
  if (EqualsNoCase(verb, "list")) {
    std::string body;
    for (const auto& reader : sim->readers()) {
      body += reader->name() + " " + LinkName(*reader) + " " +
              (reader->link() ? reader->link()->Address() : std::string()) + "\n";
    }
    return Ok(body);
  }
  if (EqualsNoCase(verb, "mark")) {
    std::string text(Rest(request, 1));
    sim->log().Note("-", "MARK", "%s", text.c_str());
    return Ok();
  }
  if (EqualsNoCase(verb, "status") && words.size() == 1) {
    std::string body;
    for (const auto& reader : sim->readers()) {
      if (!body.empty()) body += "\n";
      body += reader->Describe();
    }
    return Ok(body);
  }

  // Everything else names a reader.
  if (words.size() < 2) return Err(std::string(verb) + " needs a reader name");
  Reader* reader = sim->FindReader(words[1]);
  if (!reader) return Err("no reader named '" + std::string(words[1]) + "'");

  if (EqualsNoCase(verb, "status")) {
    if (words.size() != 2) return Err("status takes at most one reader");
    return Ok(reader->Describe());
  }
  if (EqualsNoCase(verb, "get")) {
    if (words.size() != 3) return Err("get READER FIELD");
    std::string value;
    if (!reader->fields().Get(words[2], &value))
      return Err("unknown field '" + std::string(words[2]) + "'");
    return Ok(value + "\n");
  }
  if (EqualsNoCase(verb, "set")) {
    if (words.size() < 3) return Err("set READER FIELD VALUE");
    std::string problem = reader->fields().Set(words[2], Rest(request, 3));
    if (!problem.empty()) return Err(problem);
    return Ok();
  }
  if (EqualsNoCase(verb, "fault")) {
    if (words.size() < 3) return Err("fault READER SPEC");
    std::string problem = reader->ApplyFault(Rest(request, 2));
    if (!problem.empty()) return Err(problem);
    return Ok();
  }
  if (EqualsNoCase(verb, "clear")) {
    if (words.size() != 2) return Err("clear READER");
    reader->faults().ClearAll();
    return Ok();
  }
  if (IsCardControlVerb(verb)) {
    std::string note;
    std::string problem = RunCardControl(reader, verb, Rest(request, 2), &note);
    if (!problem.empty()) return Err(problem);
    return Ok(note);
  }
  if (EqualsNoCase(verb, "unplug") || EqualsNoCase(verb, "replug")) {
    std::string problem =
        reader->ApplyFault(std::string(verb) + " " + std::string(Rest(request, 2)));
    if (!problem.empty()) return Err(problem);
    return Ok();
  }
  return Err("unknown command '" + std::string(verb) + "' (try help)");
}

}  // namespace q7msim
