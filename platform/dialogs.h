// Modal dialogs and process services of the user interface.
#pragma once

#include <optional>
#include <string>

namespace ttu::platform {

// Buttons a message box returns.
enum DialogResult : int { kResultOk = 1, kResultCancel = 2, kResultYes = 6, kResultNo = 7 };

// Message box style codes: icon value + buttons value + default-button value.
enum MessageStyle : int {
  kStyleOk = 0,
  kStyleYesNo = 4,
  kStyleCritical = 16,
  kStyleQuestion = 32,
  kStyleExclamation = 48,
  kStyleInformation = 64,
};

inline constexpr const char* kApplicationTitle = "Tessiro Tiny Updater";

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // Modal; with no title it shows the application title. Returns the button pressed.
  virtual int MessageBox(const std::string& prompt, int style,
                         const std::optional<std::string>& title) = 0;
  // Modal; one editable line starting as `default_text`. The text on OK, empty on Cancel.
  virtual std::string InputBox(const std::string& prompt, const std::string& title,
                               const std::string& default_text) = 0;
  // Handles the events that are waiting, then returns.
  virtual void Yield() = 0;
  // Ends the process at once, exit status 0: no further event, no closing step.
  [[noreturn]] virtual void EndProcess() = 0;
  // Sets the application-wide mouse pointer to its default shape.
  virtual void ResetMousePointer() = 0;
};

}  // namespace ttu::platform

namespace ttu::platform {
// The dialogs of the platform's user interface.
Dialogs& NativeDialogs();
}  // namespace ttu::platform
