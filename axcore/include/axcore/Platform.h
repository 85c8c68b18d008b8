// The seam between the host's dialogs and the screen: a platform runs
// dialogs modally, keeps their window timers, asks message boxes, pumps
// pending messages, opens help and tells the time; a view shows one
// dialog's controls and turns the user's input into the dialog's User...
// calls. The headless platform (HeadlessPlatform.h) runs on a virtual clock
// with a scripted user; the desktop platform (axhost/qt) on Qt widgets and
// the wall clock. The plug-in and axcore never see which one runs.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "axcore/Clock.h"

class CMC_EditSetupDlg;
struct ControlState;

// Message box styles and answers, with the values of the host's framework:
// the Parts give styles such as 0x23 (Yes/No/Cancel with the question icon)
// and answers such as 6 (Yes).
inline constexpr unsigned MB_OK = 0x00;
inline constexpr unsigned MB_OKCANCEL = 0x01;
inline constexpr unsigned MB_YESNOCANCEL = 0x03;
inline constexpr unsigned MB_YESNO = 0x04;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;
// A Help button beside the others: choosing it closes the box with IDHELP,
// and the caller opens the manual.
inline constexpr unsigned MB_HELP = 0x4000;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int IDHELP = 9;

namespace axcore {

// The buttons a style offers, and the answer of a box closed without a
// choice (Enter on the default button).
int DefaultAnswer(unsigned style);
bool StyleOffers(unsigned style, int answer);
// "ok", "cancel", "yes", "no", "help" (script words), or nothing for other
// values.
const char* AnswerName(int answer);

// One entry of a popup menu of the host: a command, or a separator
// (command 0). The text may mark its mnemonic letter with '&'.
struct HostMenuItem {
  int command = 0;
  std::string text;
};

// A file prompt: which file to open or to save to.
struct FilePrompt {
  bool open = false;        // an existing file to read; else a file to write
  std::string title;        // the prompt's caption ("Load Scope Settings")
  std::string defaultName;  // the name offered ("SpeedTuning.axscope"); its extension is the kind of file
  std::string filter;       // the kind of file as the prompt lists it ("Scope settings (*.axscope)")
  std::string folder;       // where the prompt starts; "": the working folder
};

// The text of a menu entry without its mnemonic mark ("&&" is a literal '&').
std::string MenuText(const std::string& text);

// One dialog on the screen. The dialog calls it whenever a control's state
// changes; the view calls the dialog's User... operations for what the user
// does.
class DialogView {
 public:
  virtual ~DialogView() = default;
  // Builds the window from the dialog's template and its controls' state.
  virtual void Create() = 0;
  virtual void Update(const ControlState& state) = 0;
  // Why the last input was not taken, or what was changed to fit; the Qt
  // view shows it in its status line. Empty clears it.
  virtual void ShowStatus(const std::string& text) = 0;
  // The dialog is shown (after OnInitDialog) or closes.
  virtual void Show() = 0;
  virtual void Close() = 0;
  // Repaints a plot control after its document changed.
  virtual void RefreshPlot(int id) { (void)id; }
};

class Platform : public Clock {
 public:
  ~Platform() override = default;
  // Runs `dialog` modally until it ends and gives its result: creates its
  // view, calls dialog.CreateDialog(view), shows it, processes input and due
  // timers, and closes the view. -1 when the dialog could not be created.
  virtual int RunModal(CMC_EditSetupDlg& dialog) = 0;
  // Window timers of a dialog: `id` fires every `ms` milliseconds until
  // killed (the dialogs re-arm one-shot timers themselves). False when the
  // platform cannot set it.
  virtual bool SetTimer(CMC_EditSetupDlg& dialog, int id, int ms) = 0;
  virtual void KillTimer(CMC_EditSetupDlg& dialog, int id) = 0;
  // A message box over `owner` (or the application); gives the answer.
  virtual int MessageBox(const std::string& text, unsigned style, CMC_EditSetupDlg* owner) = 0;
  // Handles the messages that are pending now (user input, timers that are
  // due), then returns.
  virtual void PumpMessages() = 0;
  // Opens page `page` of the manual (a path), for `contextId`.
  virtual void OpenHelp(const std::string& page, int contextId) = 0;
  // Shows `items` as a popup menu at the pointer over `owner` (or the
  // application) and gives the command chosen; 0 when the menu was
  // dismissed. Without a user (this default) every menu is dismissed.
  virtual int TrackPopupMenu(const std::vector<HostMenuItem>& items, CMC_EditSetupDlg* owner);
  // Asks the user for a file; gives its path, "" when the prompt was
  // cancelled. Without a user (this default) every prompt is cancelled.
  virtual std::string PromptFileName(const FilePrompt& prompt, CMC_EditSetupDlg* owner);
};

// The platform the host runs its dialogs on. The host installs one before
// it calls the plug-in; without one, a headless platform with no user is
// used (every dialog then ends at once as if cancelled).
Platform& CurrentPlatform();
void InstallPlatform(Platform* platform);

}  // namespace axcore
