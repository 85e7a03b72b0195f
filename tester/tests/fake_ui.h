// A front end for tests: keeps what the core showed and answers as told.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "tool_ui.h"

namespace rigtooltest {

using namespace q7m::rigtool;

class FakeUi : public ToolUi {
 public:
  void LogAppended(std::string_view text) override { view += text; }
  void ShowMessage(std::string_view caption, std::string_view text, BoxIcon) override {
    messages.push_back(std::string(caption) + ": " + std::string(text));
  }
  Answer Ask(std::string_view caption, std::string_view text) override {
    messages.push_back(std::string(caption) + ": " + std::string(text));
    return answer;
  }
  std::string ChooseFile(FileChoice choice) override {
    choices.push_back(choice);
    return chosenFile;
  }
  void WorkerEnded() override { workerEnds.fetch_add(1); }

  std::string view;
  std::vector<std::string> messages;
  std::vector<FileChoice> choices;
  Answer answer = Answer::kYes;
  std::string chosenFile;
  std::atomic<int> workerEnds{0};
};

}  // namespace rigtooltest
