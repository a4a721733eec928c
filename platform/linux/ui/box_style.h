// What a message box style code asks for, the same on both front ends of the
// Linux window: its icon, its buttons, its default, what dismissing answers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ttu::platform {

struct BoxIcon {
  const char* symbol;  // drawn white on a disc of the colour
  unsigned char r, g, b;
};

// Icon value of a style code: 16 critical, 32 question, 48 exclamation, 64
// information; nullptr for none.
const BoxIcon* IconFor(int style);

struct BoxButton {
  const char* label;
  int result;
};

// Buttons value of a style code, in the order they are shown.
std::vector<BoxButton> ButtonsFor(int style);

// The default button's index (the style's default-button value; the first
// where the box has no such button).
std::size_t DefaultIndex(int style, std::size_t buttons);

// What closing the box (or Escape) answers: Cancel where there is one, OK on
// a lone OK; 0 where the box cannot be dismissed that way (Yes/No).
int DismissResult(const std::vector<BoxButton>& buttons);

// Text with "\r\n" and a lone "\r" as "\n", as the toolkits break lines.
std::string LineBreaks(const std::string& s);

}  // namespace ttu::platform
