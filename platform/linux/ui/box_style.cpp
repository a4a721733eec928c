#include "platform/linux/ui/box_style.h"

#include "platform/dialogs.h"

namespace ttu::platform {

const BoxIcon* IconFor(int style) {
  static const BoxIcon kCritical{"X", 255, 0, 0}, kQuestion{"?", 0, 0, 255}, kExclamation{"!", 230, 170, 0},
      kInformation{"i", 0, 0, 255};
  switch (style & 0x70) {
    case 16: return &kCritical;
    case 32: return &kQuestion;
    case 48: return &kExclamation;
    case 64: return &kInformation;
    default: return nullptr;
  }
}

std::vector<BoxButton> ButtonsFor(int style) {
  switch (style & 0x7) {
    case 1: return {{"OK", kResultOk}, {"Annulla", kResultCancel}};
    case 3: return {{"Sì", kResultYes}, {"No", kResultNo}, {"Annulla", kResultCancel}};
    case 4: return {{"Sì", kResultYes}, {"No", kResultNo}};
    default: return {{"OK", kResultOk}};
  }
}

std::size_t DefaultIndex(int style, std::size_t buttons) {
  const std::size_t k = static_cast<std::size_t>((style & 0x300) >> 8);
  return k < buttons ? k : 0;
}

int DismissResult(const std::vector<BoxButton>& buttons) {
  for (const auto& b : buttons) {
    if (b.result == kResultCancel) return kResultCancel;
  }
  return buttons.size() == 1 ? buttons[0].result : 0;
}

std::string LineBreaks(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    out += s[i] == '\r' ? '\n' : s[i];
  }
  return out;
}

}  // namespace ttu::platform
