#include "tests/atspi_client.h"

#include <atspi/atspi.h>

#include <chrono>
#include <functional>
#include <thread>

namespace ttu::test {
namespace {

std::string Take(gchar* s) {
  std::string out = s ? s : "";
  g_free(s);
  return out;
}

bool Has(AtspiAccessible* a, AtspiStateType state) {
  AtspiStateSet* set = atspi_accessible_get_state_set(a);
  const bool has = set && atspi_state_set_contains(set, state);
  if (set) g_object_unref(set);
  return has;
}

std::string TextOf(AtspiAccessible* a) {
  AtspiText* text = atspi_accessible_get_text_iface(a);
  if (!text) return "";
  std::string out = Take(atspi_text_get_text(text, 0, -1, nullptr));
  g_object_unref(text);
  return out;
}

void Walk(AtspiAccessible* a, int depth, const std::function<void(AtspiAccessible*, int)>& visit) {
  visit(a, depth);
  const int n = atspi_accessible_get_child_count(a, nullptr);
  for (int k = 0; k < n && depth < 30; ++k) {
    if (AtspiAccessible* child = atspi_accessible_get_child_at_index(a, k, nullptr)) {
      Walk(child, depth + 1, visit);
      g_object_unref(child);
    }
  }
}

// The top-level window named `window` of the application `pid`, or null.
AtspiAccessible* FindWindow(pid_t pid, const std::string& window) {
  AtspiAccessible* desktop = atspi_get_desktop(0);
  AtspiAccessible* found = nullptr;
  const int apps = atspi_accessible_get_child_count(desktop, nullptr);
  for (int k = 0; k < apps && !found; ++k) {
    AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, k, nullptr);
    if (!app) continue;
    if (atspi_accessible_get_process_id(app, nullptr) == static_cast<guint>(pid)) {
      const int n = atspi_accessible_get_child_count(app, nullptr);
      for (int w = 0; w < n && !found; ++w) {
        AtspiAccessible* top = atspi_accessible_get_child_at_index(app, w, nullptr);
        if (top && Take(atspi_accessible_get_name(top, nullptr)) == window && Has(top, ATSPI_STATE_SHOWING)) {
          found = top;
        } else if (top) {
          g_object_unref(top);
        }
      }
    }
    g_object_unref(app);
  }
  g_object_unref(desktop);
  return found;
}

AtspiAccessible* WaitForWindow(pid_t pid, const std::string& window, int timeout_ms) {
  static const bool ready = atspi_init() >= 0;
  if (!ready) return nullptr;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (AtspiAccessible* w = FindWindow(pid, window)) return w;
    if (std::chrono::steady_clock::now() > end) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace

std::vector<AccessibleNode> AccessibleTree(pid_t pid, const std::string& window, int timeout_ms) {
  std::vector<AccessibleNode> tree;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  // A window is announced before its contents: read it again until its
  // buttons are there and have settled (the focus comes last).
  for (std::size_t seen = 0;;) {
    AtspiAccessible* top = WaitForWindow(pid, window, timeout_ms);
    if (!top) return {};
    atspi_accessible_clear_cache(top);  // the cache knows only what was there when first read
    tree.clear();
    bool button = false;
    Walk(top, 0, [&](AtspiAccessible* a, int depth) {
      AccessibleNode n;
      n.depth = depth;
      n.role = Take(atspi_accessible_get_role_name(a, nullptr));
      n.name = Take(atspi_accessible_get_name(a, nullptr));
      if (n.role == "label" || n.role == "text") n.text = TextOf(a);
      n.focused = Has(a, ATSPI_STATE_FOCUSED);
      n.is_default = Has(a, ATSPI_STATE_IS_DEFAULT);
      n.showing = Has(a, ATSPI_STATE_SHOWING);
      button = button || n.role == "push button";
      tree.push_back(n);
    });
    g_object_unref(top);
    if ((button && tree.size() == seen) || std::chrono::steady_clock::now() > end) return tree;
    seen = button ? tree.size() : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
}

bool PressByAction(pid_t pid, const std::string& window, const std::string& button, int timeout_ms) {
  AtspiAccessible* top = WaitForWindow(pid, window, timeout_ms);
  if (!top) return false;
  bool pressed = false;
  Walk(top, 0, [&](AtspiAccessible* a, int) {
    if (pressed || Take(atspi_accessible_get_role_name(a, nullptr)) != "push button" ||
        Take(atspi_accessible_get_name(a, nullptr)) != button) {
      return;
    }
    if (AtspiAction* action = atspi_accessible_get_action_iface(a)) {
      pressed = atspi_action_do_action(action, 0, nullptr);
      g_object_unref(action);
    }
  });
  g_object_unref(top);
  return pressed;
}

std::string Describe(const std::vector<AccessibleNode>& tree) {
  std::string out;
  for (const auto& n : tree) {
    out += std::string(2 * n.depth, ' ') + n.role + " \"" + n.name + "\"";
    if (!n.text.empty()) out += " text \"" + n.text + "\"";
    if (n.focused) out += " focused";
    if (n.is_default) out += " default";
    out += "\n";
  }
  return out;
}

}  // namespace ttu::test
