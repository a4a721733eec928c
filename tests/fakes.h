// Test doubles for the platform services.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/resources.h"

namespace ttu::test {

// Resources held in memory: strings by identifier, CUSTOM payloads by identifier.
class FakeResources : public platform::Resources {
 public:
  std::map<uint32_t, std::string> strings;
  std::map<uint32_t, std::string> payloads;
  std::vector<uint32_t> string_reads, payload_reads;

  std::optional<std::string> String(uint32_t id) override {
    string_reads.push_back(id);
    auto it = strings.find(id);
    if (it == strings.end()) return std::nullopt;
    return it->second;
  }
  std::optional<platform::Blob> Data(uint32_t id, const std::string& type) override {
    if (type != "CUSTOM") return std::nullopt;
    payload_reads.push_back(id);
    auto it = payloads.find(id);
    if (it == payloads.end()) return std::nullopt;
    return platform::Blob{"", it->second.data(), 0, it->second.size()};
  }
};

// Thrown by FakeDialogs::EndProcess, so a test sees the process end.
struct ProcessEnded {};

// Dialogs that record what they show and answer from a script.
class FakeDialogs : public platform::Dialogs {
 public:
  struct Shown {
    std::string kind;  // "message" or "input"
    std::string prompt;
    int style = 0;
    std::optional<std::string> title;
    std::string default_text;
  };
  std::vector<Shown> shown;
  std::deque<int> message_answers;          // default: OK, or Yes for a Yes/No box
  std::deque<std::string> input_answers;    // default: empty (Cancel)
  std::function<void()> while_open;         // runs inside every dialog, as a nested loop would
  int yields = 0, pointer_resets = 0;

  int MessageBox(const std::string& prompt, int style,
                 const std::optional<std::string>& title) override {
    shown.push_back({"message", prompt, style, title, ""});
    if (while_open) while_open();
    if (message_answers.empty()) return (style & 7) == 4 ? platform::kResultYes : platform::kResultOk;
    const int a = message_answers.front();
    message_answers.pop_front();
    return a;
  }
  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& default_text) override {
    shown.push_back({"input", prompt, 0, title, default_text});
    if (while_open) while_open();
    if (input_answers.empty()) return "";
    std::string a = input_answers.front();
    input_answers.pop_front();
    return a;
  }
  void Yield() override { ++yields; }
  [[noreturn]] void EndProcess() override { throw ProcessEnded{}; }
  void ResetMousePointer() override { ++pointer_resets; }
};

}  // namespace ttu::test
