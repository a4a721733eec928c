// The system's message box, a modal input box built in memory, and the
// process services. Modal boxes run their own message loop, so the main
// window's timer goes on ticking while they are open.
#include "platform/windows/windows_api.h"

#include <vector>

#include "platform/dialogs.h"
#include "platform/windows/wide.h"

namespace ttu::platform {
namespace {

enum : WORD { kIdPrompt = 100, kIdEdit = 101 };

// A dialog template in memory: DLGTEMPLATE, then its items, each DWORD-aligned.
class TemplateWriter {
 public:
  void Word(WORD w) { words_.push_back(w); }
  void DWord(DWORD d) { Word(LOWORD(d)), Word(HIWORD(d)); }
  void Text(const std::wstring& s) {
    for (wchar_t c : s) Word(static_cast<WORD>(c));
    Word(0);
  }
  void Align() {
    if (words_.size() % 2) Word(0);
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD cls, const std::wstring& text) {
    Align();
    DWord(style | WS_CHILD | WS_VISIBLE), DWord(0);
    Word(static_cast<WORD>(x)), Word(static_cast<WORD>(y)), Word(static_cast<WORD>(cx)), Word(static_cast<WORD>(cy));
    Word(id), Word(0xFFFF), Word(cls);
    Text(text);
    Word(0);  // no creation data
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  std::vector<WORD> words_;
};

struct InputState {
  std::wstring default_text, result;
};

INT_PTR CALLBACK InputProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* st = reinterpret_cast<InputState*>(GetWindowLongPtrW(dlg, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dlg, DWLP_USER, lp);
      st = reinterpret_cast<InputState*>(lp);
      SetDlgItemTextW(dlg, kIdEdit, st->default_text.c_str());
      SendDlgItemMessageW(dlg, kIdEdit, EM_SETSEL, 0, -1);
      SetFocus(GetDlgItem(dlg, kIdEdit));
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK) {
        const int n = GetWindowTextLengthW(GetDlgItem(dlg, kIdEdit));
        std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
        GetDlgItemTextW(dlg, kIdEdit, text.data(), n + 1);
        text.resize(static_cast<std::size_t>(n));
        st->result = text;
        EndDialog(dlg, IDOK);
        return TRUE;
      }
      if (LOWORD(wp) == IDCANCEL) {
        EndDialog(dlg, IDCANCEL);
        return TRUE;
      }
      break;
    default: break;
  }
  return FALSE;
}

class WindowsDialogs final : public Dialogs {
 public:
  // Escape and the close box answer as Windows documents them: OK on a box
  // whose only button is OK, nothing on a Yes/No box. Not every
  // implementation of MessageBoxW keeps to that (Wine answers Cancel), so a
  // Cancel from a box without that button is mapped back, or the box shown again.
  int MessageBox(const std::string& prompt, int style, const std::optional<std::string>& title) override {
    const std::wstring text = Widen(prompt), caption = Widen(title.value_or(kApplicationTitle));
    const UINT buttons = static_cast<UINT>(style) & MB_TYPEMASK;
    const bool has_cancel = buttons == MB_OKCANCEL || buttons == MB_YESNOCANCEL || buttons == MB_RETRYCANCEL;
    for (;;) {
      const int answer = ::MessageBoxW(GetActiveWindow(), text.c_str(), caption.c_str(), static_cast<UINT>(style));
      if (answer != IDCANCEL || has_cancel) return answer;
      if (buttons == MB_OK) return IDOK;
      if (buttons != MB_YESNO) return answer;
    }
  }

  std::string InputBox(const std::string& prompt, const std::string& title, const std::string& default_text) override {
    TemplateWriter t;
    t.DWord(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU), t.DWord(0);
    t.Word(4), t.Word(0), t.Word(0), t.Word(260), t.Word(84);
    t.Word(0), t.Word(0);  // no menu, default class
    t.Text(Widen(title));
    t.Word(8), t.Text(L"MS Shell Dlg");
    t.Item(SS_LEFT, 7, 7, 190, 44, kIdPrompt, 0x0082, Widen(prompt));
    t.Item(WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 7, 62, 246, 14, kIdEdit, 0x0081, L"");
    t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 203, 7, 50, 14, IDOK, 0x0080, L"OK");
    t.Item(BS_PUSHBUTTON | WS_TABSTOP, 203, 25, 50, 14, IDCANCEL, 0x0080, L"Annulla");
    InputState st{Widen(default_text), L""};
    const INT_PTR r = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.get(), GetActiveWindow(), InputProc,
                                              reinterpret_cast<LPARAM>(&st));
    return r == IDOK ? Narrow(st.result) : std::string();
  }

  void Yield() override {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  [[noreturn]] void EndProcess() override { ExitProcess(0); }

  void ResetMousePointer() override { SetCursor(LoadCursorW(nullptr, IDC_ARROW)); }
};

}  // namespace

Dialogs& NativeDialogs() {
  static WindowsDialogs dialogs;
  return dialogs;
}

}  // namespace ttu::platform
