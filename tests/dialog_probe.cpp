// dialog-probe STYLE RESULT [TITLE]: shows the platform's message box with the
// prompt "Prova" and writes the number of the button that ended it to RESULT.
// dialog-probe input RESULT: shows the input box "Setup" with "C:\Programmi"
// and writes the text it answers to RESULT.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/dialogs.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::optional<std::string> title = argc > 3 ? std::optional<std::string>(argv[3]) : std::nullopt;
  auto& dialogs = ttu::platform::NativeDialogs();
  const std::string answer = std::string(argv[1]) == "input"
                                 ? dialogs.InputBox("Prova", "Setup", "C:\\Programmi")
                                 : std::to_string(dialogs.MessageBox("Prova", std::atoi(argv[1]), title));
  std::FILE* out = std::fopen(argv[2], "w");
  const bool written = out && std::fwrite(answer.data(), 1, answer.size(), out) == answer.size() && std::fclose(out) == 0;
  // Ends at once, as the updater does: what the GUI libraries cache is not freed.
  std::_Exit(written ? 0 : 1);
}
