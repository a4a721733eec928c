// dialog-probe STYLE RESULT [TITLE]: shows the platform's message box with the
// prompt "Prova" and writes the number of the button that ended it to RESULT.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/dialogs.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::optional<std::string> title = argc > 3 ? std::optional<std::string>(argv[3]) : std::nullopt;
  const int answer = ttu::platform::NativeDialogs().MessageBox("Prova", std::atoi(argv[1]), title);
  std::FILE* out = std::fopen(argv[2], "w");
  const bool written = out && std::fprintf(out, "%d", answer) > 0 && std::fclose(out) == 0;
  // Ends at once, as the updater does: what the GUI libraries cache is not freed.
  std::_Exit(written ? 0 : 1);
}
