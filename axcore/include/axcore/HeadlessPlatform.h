// Dialogs without a screen: a platform on a virtual clock whose user is a
// script, for tests, the command line and scripted commissioning.
//
// A script has one action per line ('#' starts a comment); each applies to
// the topmost modal dialog, and a dialog opened by an action is entered by
// the actions that follow:
//
//   type ID TEXT       types TEXT into value field ID and leaves it
//   unit ID UNIT       picks UNIT in unit box ID
//   check ID 0|1       sets check box ID
//   radio ID           presses radio button ID
//   select ID TEXT     chooses the item TEXT of combo ID
//   tab ID INDEX       shows page INDEX of tab control ID
//   slide ID VALUE     moves slider ID to VALUE
//   click ID           presses button ID
//   key CHORD          presses a key chord (ctrl+alt+shift+K)
//   answer yes|no|cancel|ok   queues the answer to the next message box
//   menu ID COMMAND    right-clicks control ID and chooses COMMAND in the
//                      menu the dialog shows (0: dismisses it); a click
//                      that shows no menu, or a menu without COMMAND, fails
//   file PATH          queues PATH as the answer to the next file prompt
//   message ID MSG LPARAM   control ID sends the dialog message MSG with
//                      LPARAM (numbers in C syntax: 0x467, 65537, -1)
//   wait MS            lets MS milliseconds pass (timers fire, the drive runs)
//   until-idle [MS]    waits until no test runs (at most MS, default 60000)
//   dump [ID...]       prints the dialog and its controls (all, or those)
//   save-plot ID FILE  saves plot ID as CSV or SVG by FILE's extension
//
// and two act on the bench, the drive and motor the dialogs are connected
// to, through the run's bench handler (without one the line fails, "no
// virtual drive to act on"):
//
//   analogue VOLTS     sets the voltage at the drive's analogue reference input
//   move MM [MS]       pushes the mover by hand by MM millimetres (signed) at a
//                      steady speed over MS milliseconds (default 500); the
//                      script goes on when the push is done, the clock having
//                      run MS meanwhile (timers fire, the drive runs)
//
// Every message box is printed as "message: TEXT" with the answer given; an
// unanswered one takes its default answer and says so. Menus and file
// prompts are printed too ("menu: ENTRY, ... [CHOICE]", "file: open|save
// "NAME" [PATH]"); a menu with no choice queued is dismissed, a file prompt
// with no file queued cancelled, and the line says so. A line that cannot be
// carried out (unknown action, a control that does not exist, is hidden or
// disabled) stops the run with an error naming the line; so does a script
// that ends while a dialog is still open.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <ostream>
#include <string>
#include <vector>

#include "axcore/EditSetupDlg.h"
#include "axcore/Platform.h"
#include "axcore/TestDlg.h"

namespace axcore {

struct ScriptLine {
  int number = 0;  // 1-based line of the script
  std::string action;
  std::vector<std::string> words;  // the arguments, split at blanks
  std::string rest;                // everything after the action and its first argument
  std::string arguments;           // everything after the action
};

// Every action a script may use, as its usage ("type ID TEXT", "wait MS",
// ...), in the order the help lists them.
std::vector<std::string> ScriptActionUsages();

// The actions of a script text; on a line with an unknown action nothing,
// with "line N: ..." in `error`.
std::optional<std::vector<ScriptLine>> ParseScript(std::string_view text, std::string& error);

// A bench action of a script, its numbers checked and in base units.
struct BenchAction {
  enum class Kind { AnalogueInput, MoveByHand };
  Kind kind = Kind::AnalogueInput;
  double volts = 0.0;       // AnalogueInput
  double distance_m = 0.0;  // MoveByHand, signed
  double duration_s = 0.0;  // MoveByHand
};
// Carries out a bench action on what stands for the bench (the host installs
// one where it connects a virtual drive); false with the reason.
using BenchHandler = std::function<bool(const BenchAction& action, std::string& why)>;

// Where a user that decides as it goes takes its next actions: called with
// the topmost dialog whenever the actions given so far have all been
// carried out; returns the next ones as script text ("" ends the script).
using ScriptFeed = std::function<std::string(CMC_EditSetupDlg& top)>;

// What a scripted run reports: one line per message box and dump.
class ScriptedUser {
 public:
  ScriptedUser(std::vector<ScriptLine> lines, std::ostream& out) : m_lines(lines.begin(), lines.end()), m_out(out) {}
  void SetBenchHandler(BenchHandler handler) { m_bench = std::move(handler); }
  const BenchHandler& Bench() const { return m_bench; }
  void SetFeed(ScriptFeed feed) { m_feed = std::move(feed); }
  // Told of every message box as it is answered: its text as the dialog
  // gave it, the answer, and whether that was the box's default (no answer
  // was queued).
  using MessageObserver = std::function<void(const std::string& text, int answer, bool defaulted)>;
  void SetMessageObserver(MessageObserver observer) { m_messages = std::move(observer); }
  const MessageObserver& Messages() const { return m_messages; }
  bool HasNext() const { return !m_lines.empty(); }
  // HasNext, asking the feed for more when the actions have run out; a feed
  // that returns text no action can be made of fails the run.
  bool HasNextFor(CMC_EditSetupDlg& top);
  const ScriptLine& Next() const { return m_lines.front(); }
  ScriptLine Take();
  std::ostream& Out() { return m_out; }
  // The answer queued for the next message box and the script line that
  // queued it; {0, 0} when none.
  std::pair<int, int> TakeAnswer();
  void QueueAnswer(int answer, int line) { m_answers.emplace_back(answer, line); }
  // Forgets the answers no message box took.
  void DropAnswers() { m_answers.clear(); }
  // The command queued for the next popup menu (0: dismiss it) and the
  // line that queued it; none when nothing is queued.
  std::optional<std::pair<int, int>> TakeMenuChoice();
  void QueueMenuChoice(int command, int line) { m_menuChoices.emplace_back(command, line); }
  // Drops the choice queued by `line` when no menu took it; true when there was one.
  bool DropMenuChoice(int line);
  // The path queued for the next file prompt and its line; none when nothing is queued.
  std::optional<std::pair<std::string, int>> TakeFile();
  void QueueFile(std::string path, int line) { m_files.emplace_back(std::move(path), line); }
  // The line of the action taken last.
  int LastLine() const { return m_last; }
  // The first failure ("line N: reason"); a failed run stops every dialog.
  const std::string& Failure() const { return m_failure; }
  void Fail(const std::string& failure);
  bool Failed() const { return !m_failure.empty(); }

 private:
  std::deque<ScriptLine> m_lines;
  std::deque<std::pair<int, int>> m_answers;
  std::deque<std::pair<int, int>> m_menuChoices;
  std::deque<std::pair<std::string, int>> m_files;
  int m_last = 0;
  std::ostream& m_out;
  std::string m_failure;
  BenchHandler m_bench;
  ScriptFeed m_feed;
  MessageObserver m_messages;
  int m_fedLines = 0;  // lines fed so far, to number the next ones on
};

// Applies one control action (type, unit, check, radio, select, tab,
// slide, click, key, menu, message) to `dialog`; false with the reason. A
// "menu" line is the right click alone: ExecuteScriptLine queues its choice. Shared by the
// headless and the Qt platform so that one script means the same on both.
bool ApplyControlAction(CMC_EditSetupDlg& dialog, const ScriptLine& line, std::string& why);

// What a platform supplies to carry out a script: time passing, whether a
// test runs, and the control actions as its own user performs them.
class ScriptPlatform {
 public:
  virtual ~ScriptPlatform() = default;
  // Lets up to `ms` milliseconds pass (timers fire), returning early as
  // soon as `stop` says so.
  virtual void Wait(long long ms, const std::function<bool()>& stop) = 0;
  virtual bool Act(CMC_EditSetupDlg& dialog, const ScriptLine& line, std::string& why) = 0;
  // Saves a picture of `dialog` as it looks now under `name` ("screenshot
  // NAME"); false with the reason. Only a view that draws can.
  virtual bool Picture(CMC_EditSetupDlg& dialog, const std::string& name, std::string& why) {
    (void)dialog;
    (void)name;
    why = "a screenshot needs the Qt view";
    return false;
  }
  // Called whenever a test may be running, to tell whether one still runs
  // ("until-idle"); none: busy while a test dialog runs a test.
  void SetBusyProbe(std::function<bool()> probe) { m_busy = std::move(probe); }
  bool Busy() const { return m_busy ? m_busy() : CMC_TestDlg::AnyTestRunning(); }

 private:
  std::function<bool()> m_busy;
};

// Carries out one script line on the topmost dialog; a line that cannot be
// carried out fails the script with "line N: reason".
void ExecuteScriptLine(ScriptedUser& user, CMC_EditSetupDlg& dialog, const ScriptLine& line, ScriptPlatform& platform);
// The answer a scripted run gives a message box: the queued one (a queued
// answer the box does not offer fails the script) or the box's default;
// the box is printed with it.
int AnswerScriptedMessage(ScriptedUser& user, const std::string& text, unsigned style);
// "dialog 106 "Drive Setup"", for messages.
std::string DialogName(const CMC_EditSetupDlg& dialog);
// The dump lines of a dialog (all controls, or those of `ids`).
void DumpDialog(const CMC_EditSetupDlg& dialog, const std::vector<int>& ids, std::ostream& out);
// A message box as a script run prints it, with its answer.
void PrintMessageBox(std::ostream& out, const std::string& text, int answer, bool defaulted);
// The command a scripted run chooses in a popup menu: the queued one (one
// the menu does not have fails the script and dismisses the menu) or none
// (0); the menu is printed with the choice.
int ChooseScriptedMenuCommand(ScriptedUser& user, const std::vector<HostMenuItem>& items);
// The file a scripted run gives a file prompt: the queued path, or "" (the
// prompt cancelled); the prompt is printed with the answer.
std::string AnswerScriptedFilePrompt(ScriptedUser& user, const FilePrompt& prompt);

class HeadlessView : public DialogView {
 public:
  explicit HeadlessView(CMC_EditSetupDlg& dialog) : m_dialog(dialog) {}
  void Create() override {}
  void Update(const ControlState&) override {}
  void ShowStatus(const std::string& text) override { m_status = text; }
  void Show() override {}
  void Close() override {}
  const std::string& Status() const { return m_status; }

 private:
  CMC_EditSetupDlg& m_dialog;
  std::string m_status;
};

class HeadlessPlatform : public Platform, private ScriptPlatform {
 public:
  // Without a user every dialog ends at once with Cancel (2).
  explicit HeadlessPlatform(ScriptedUser* user = nullptr) : m_user(user) {}

  double Now() const override { return m_clock.Now(); }
  int RunModal(CMC_EditSetupDlg& dialog) override;
  bool SetTimer(CMC_EditSetupDlg& dialog, int id, int ms) override;
  void KillTimer(CMC_EditSetupDlg& dialog, int id) override;
  int MessageBox(const std::string& text, unsigned style, CMC_EditSetupDlg* owner) override;
  void PumpMessages() override;
  void OpenHelp(const std::string& page, int contextId) override;
  int TrackPopupMenu(const std::vector<HostMenuItem>& items, CMC_EditSetupDlg* owner) override;
  std::string PromptFileName(const FilePrompt& prompt, CMC_EditSetupDlg* owner) override;

  VirtualClock& GetClock() { return m_clock; }
  // Help pages opened, as "PAGE (context 0xID)".
  const std::vector<std::string>& HelpRequests() const { return m_help; }
  // The dialogs running now, innermost last.
  const std::vector<CMC_EditSetupDlg*>& Stack() const { return m_stack; }
  using ScriptPlatform::SetBusyProbe;

 private:
  struct Timer {
    CMC_EditSetupDlg* dialog;
    int id;
    double period_s;
    double due_s;
    std::uint64_t order;
  };
  // Fires the timers due at or before `until`, in time order, moving the
  // clock to each; stops early when `dialog` ends or the script failed.
  void RunTimersUntil(double until, CMC_EditSetupDlg& dialog);
  bool FireNextDue(double until);
  void Wait(long long ms, const std::function<bool()>& stop) override;
  bool Act(CMC_EditSetupDlg& dialog, const ScriptLine& line, std::string& why) override {
    return ApplyControlAction(dialog, line, why);
  }

  VirtualClock m_clock;
  ScriptedUser* m_user;
  std::vector<Timer> m_timers;
  std::uint64_t m_timerOrder = 0;
  std::vector<CMC_EditSetupDlg*> m_stack;
  std::vector<std::string> m_help;
};

}  // namespace axcore
