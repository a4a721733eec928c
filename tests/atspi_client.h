// What a screen reader sees of a program: its AT-SPI tree, read from the
// accessibility bus of the session the test runs in, and its actions.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ttu::test {

struct AccessibleNode {
  int depth = 0;
  std::string role, name, text;  // text: an editable or label's contents
  bool focused = false, is_default = false, showing = false;
};

// Waits up to `timeout_ms` for the program `pid` to show a window with that
// name; its whole tree then (empty when it never came).
std::vector<AccessibleNode> AccessibleTree(pid_t pid, const std::string& window, int timeout_ms);

// Does the first action ("click") of the push button named `button` in the
// window of `pid` named `window`; false when there is none.
bool PressByAction(pid_t pid, const std::string& window, const std::string& button, int timeout_ms);

// The tree as lines, for failure messages.
std::string Describe(const std::vector<AccessibleNode>& tree);

}  // namespace ttu::test
