// What the updater's FLTK windows share: the desktop's scale, buttons that
// Enter presses when they have the focus, and boxes whose Enter elsewhere
// presses their default button.
#pragma once

#include <FL/Fl_Button.H>
#include <FL/Fl_Window.H>

#include "platform/linux/ui/front_end.h"

namespace ttu::platform {

// The FLTK front end's parts.
std::unique_ptr<MainWindow> ShowFltkMainWindow(const WindowLayout& layout, WindowEvents events);
int RunFltkEventLoop();
Dialogs& FltkDialogs();
std::optional<std::size_t> FltkChoosePrefix(const std::vector<PrefixCandidate>& prefixes);

// The desktop's scale (1 at 96 dpi), read once; sets FLTK's normal text size.
double UiScale();
// A length given at 96 dpi, at the desktop's scale.
int Scaled(int pixels);

// A push button: Enter or Space press it when it has the focus. The box's
// default, and any button while it has the focus, wear a dark frame.
class PushButton : public Fl_Button {
 public:
  PushButton(int x, int y, int w, int h, const char* label = nullptr);
  int handle(int event) override;
  void make_default() { default_ = true; }
  bool is_default() const { return default_; }

 protected:
  void draw() override;

 private:
  bool default_ = false;
};

// A modal box centred on the screen (a third of the way down), so that it is
// mapped where it stays. Enter that no widget takes presses the default
// button; Escape and the close box call the window's callback.
class DialogWindow : public Fl_Window {
 public:
  DialogWindow(int w, int h, const char* title);
  int handle(int event) override;
  // Shows the box, gives `first` the focus, and handles events until the box
  // is hidden. (Focus is given only once the box is shown: without a window
  // manager, FLTK shows a window whose widget takes the focus.)
  void RunModal(Fl_Widget* first);
};

}  // namespace ttu::platform
