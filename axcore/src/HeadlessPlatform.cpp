#include "axcore/HeadlessPlatform.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "axcore/MessageText.h"

namespace axcore {
namespace {

struct ActionSpec {
  const char* name;
  int minWords;  // arguments it needs
  int maxWords;  // -1: any number (the text runs to the end of the line)
  const char* usage;
};

constexpr ActionSpec kActions[] = {
    {"type", 2, -1, "type ID TEXT"},         {"unit", 2, -1, "unit ID UNIT"},
    {"check", 2, 2, "check ID 0|1"},         {"radio", 1, 1, "radio ID"},
    {"select", 2, -1, "select ID ITEMTEXT"}, {"tab", 2, 2, "tab ID INDEX"},
    {"slide", 2, 2, "slide ID VALUE"},       {"click", 1, 1, "click ID"},
    {"key", 1, 1, "key CHORD"},              {"answer", 1, 1, "answer yes|no|cancel|ok|help"},
    {"wait", 1, 1, "wait MS"},               {"until-idle", 0, 1, "until-idle [MS]"},
    {"dump", 0, -1, "dump [ID...]"},         {"save-plot", 2, 2, "save-plot ID FILE"},
    {"analogue", 1, 1, "analogue VOLTS"},    {"move", 1, 2, "move MM [MS]"},
    {"screenshot", 1, 1, "screenshot NAME"},  {"menu", 2, 2, "menu ID COMMAND"},
    {"file", 1, -1, "file PATH"},            {"message", 3, 3, "message ID MSG LPARAM"},
};

}  // namespace

std::vector<std::string> ScriptActionUsages() {
  std::vector<std::string> usages;
  for (const ActionSpec& spec : kActions) usages.emplace_back(spec.usage);
  return usages;
}

namespace {

const ActionSpec* FindAction(std::string_view name) {
  for (const ActionSpec& spec : kActions)
    if (name == spec.name) return &spec;
  return nullptr;
}

std::optional<long long> ParseInteger(std::string_view text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A finite decimal number within +-limit.
std::optional<double> ParseNumber(std::string_view text, double limit) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || std::abs(value) > limit)
    return std::nullopt;
  return value;
}

// An integer in C syntax: decimal, 0x hexadecimal or 0 octal, with an
// optional sign.
std::optional<long long> ParseCInteger(const std::string& text) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || end != text.c_str() + text.size()) return std::nullopt;
  return value;
}

// One hour of drive time per action: the headless clock runs a test at the
// simulation's pace, so a wait of a year would keep the machine busy for
// hours and tell nothing a shorter one does not.
constexpr long long kLongestWait_ms = 3600000;

// The action of an "analogue" or "move" line; none, with the reason, when
// its numbers are not numbers it takes.
std::optional<BenchAction> ParseBenchAction(const ScriptLine& line, std::string& why) {
  BenchAction action;
  if (line.action == "analogue") {
    const auto volts = ParseNumber(line.words[0], 1000.0);
    if (!volts) {
      why = "analogue takes volts (up to 1000 either way), not " + QuoteForMessage(line.words[0]);
      return std::nullopt;
    }
    action.volts = *volts;
    return action;
  }
  action.kind = BenchAction::Kind::MoveByHand;
  const auto mm = ParseNumber(line.words[0], 1e6);
  if (!mm) {
    why = "move takes millimetres, not " + QuoteForMessage(line.words[0]);
    return std::nullopt;
  }
  const auto ms = line.words.size() > 1 ? ParseInteger(line.words[1]) : std::optional<long long>(500);
  if (!ms || *ms < 0 || *ms > kLongestWait_ms) {
    why = "move takes milliseconds after the millimetres, from 0 to 3600000 (one hour of drive time), not " +
          QuoteForMessage(line.words[1]);
    return std::nullopt;
  }
  action.distance_m = *mm / 1000.0;
  action.duration_s = static_cast<double>(*ms) / 1000.0;
  return action;
}

std::optional<int> AnswerOf(std::string_view word) {
  if (word == "yes") return IDYES;
  if (word == "no") return IDNO;
  if (word == "cancel") return IDCANCEL;
  if (word == "ok") return IDOK;
  if (word == "help") return IDHELP;
  return std::nullopt;
}

std::string Line(const ScriptLine& line) { return "line " + std::to_string(line.number); }

}  // namespace

std::string DialogName(const CMC_EditSetupDlg& dialog) {
  return "dialog " + std::to_string(dialog.GetResourceId()) + " " + QuoteForMessage(dialog.GetCaption());
}

std::optional<std::vector<ScriptLine>> ParseScript(std::string_view text, std::string& error) {
  std::vector<ScriptLine> lines;
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string line(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A '#' at the start of a line or after a blank starts a comment.
    for (std::size_t i = 0; i < line.size(); ++i)
      if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
        line.erase(i);
        break;
      }
    std::vector<std::string> words;
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < line.size();) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (i == line.size()) break;
      const std::size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
      words.push_back(line.substr(start, i - start));
      starts.push_back(start);
    }
    if (words.empty()) continue;
    const ActionSpec* spec = FindAction(words[0]);
    if (spec == nullptr) {
      error = "line " + std::to_string(number) + ": unknown action " + QuoteForMessage(words[0]);
      return std::nullopt;
    }
    const int arguments = static_cast<int>(words.size()) - 1;
    if (arguments < spec->minWords || (spec->maxWords >= 0 && arguments > spec->maxWords)) {
      error = "line " + std::to_string(number) + ": " + words[0] + " takes " + spec->usage;
      return std::nullopt;
    }
    ScriptLine parsed;
    parsed.number = number;
    parsed.action = words[0];
    parsed.words.assign(words.begin() + 1, words.end());
    if (words.size() > 2) {
      parsed.rest = line.substr(starts[2]);
      while (!parsed.rest.empty() && (parsed.rest.back() == ' ' || parsed.rest.back() == '\t')) parsed.rest.pop_back();
    }
    if (words.size() > 1) {
      parsed.arguments = line.substr(starts[1]);
      while (!parsed.arguments.empty() && (parsed.arguments.back() == ' ' || parsed.arguments.back() == '\t'))
        parsed.arguments.pop_back();
    }
    lines.push_back(std::move(parsed));
  }
  return lines;
}

bool ScriptedUser::HasNextFor(CMC_EditSetupDlg& top) {
  if (!m_lines.empty() || !m_feed || Failed()) return !m_lines.empty();
  const std::string text = m_feed(top);
  std::string error;
  auto lines = ParseScript(text, error);
  if (!lines) {
    Fail("fed actions: " + error);
    return false;
  }
  // Numbered on from the last line, so that a failure names one line only.
  const int first = std::max(m_fedLines, m_last);
  for (ScriptLine& line : *lines) {
    line.number += first;
    m_fedLines = std::max(m_fedLines, line.number);
    m_lines.push_back(std::move(line));
  }
  return !m_lines.empty();
}

ScriptLine ScriptedUser::Take() {
  ScriptLine line = std::move(m_lines.front());
  m_lines.pop_front();
  m_last = line.number;
  return line;
}

std::pair<int, int> ScriptedUser::TakeAnswer() {
  if (m_answers.empty()) return {0, 0};
  const auto answer = m_answers.front();
  m_answers.pop_front();
  return answer;
}

std::optional<std::pair<int, int>> ScriptedUser::TakeMenuChoice() {
  if (m_menuChoices.empty()) return std::nullopt;
  const auto choice = m_menuChoices.front();
  m_menuChoices.pop_front();
  return choice;
}

bool ScriptedUser::DropMenuChoice(int line) {
  const auto before = m_menuChoices.size();
  std::erase_if(m_menuChoices, [line](const std::pair<int, int>& choice) { return choice.second == line; });
  return m_menuChoices.size() != before;
}

std::optional<std::pair<std::string, int>> ScriptedUser::TakeFile() {
  if (m_files.empty()) return std::nullopt;
  auto file = std::move(m_files.front());
  m_files.pop_front();
  return file;
}

void ScriptedUser::Fail(const std::string& failure) {
  if (m_failure.empty()) m_failure = failure;
}

bool ApplyControlAction(CMC_EditSetupDlg& dialog, const ScriptLine& line, std::string& why) {
  if (line.action == "key") return dialog.UserPressesKeys(line.words.at(0), why);
  const auto id = ParseInteger(line.words.at(0));
  if (!id || *id < 1 || *id > 65535) {
    why = QuoteForMessage(line.words.at(0)) + " is no control id";
    return false;
  }
  const int control = static_cast<int>(*id);
  if (line.action == "type") return dialog.UserTypes(control, line.rest, why);
  if (line.action == "unit") return dialog.UserPicksUnit(control, line.rest, why);
  if (line.action == "select") return dialog.UserSelects(control, line.rest, why);
  if (line.action == "radio") return dialog.UserClicksRadio(control, why);
  if (line.action == "click") return dialog.UserClicks(control, why);
  if (line.action == "menu") return dialog.UserRightClicks(control, why);
  if (line.action == "message") {
    const auto message = ParseCInteger(line.words.at(1));
    const auto lParam = ParseCInteger(line.words.at(2));
    if (!message || *message < 0 || *message > 0xFFFFFFFFLL) {
      why = "message takes a message number, not " + QuoteForMessage(line.words.at(1));
      return false;
    }
    if (!lParam) {
      why = "message takes a number after the message, not " + QuoteForMessage(line.words.at(2));
      return false;
    }
    // The control's id goes with the message, as a notification's does.
    return dialog.UserSendsMessage(control, static_cast<unsigned>(*message), static_cast<std::uintptr_t>(control),
                                   static_cast<std::intptr_t>(*lParam), why);
  }
  const auto number = ParseInteger(line.words.at(1));
  if (line.action == "check") {
    if (!number || (*number != 0 && *number != 1)) {
      why = "check takes 0 or 1, not " + QuoteForMessage(line.words.at(1));
      return false;
    }
    return dialog.UserChecks(control, *number == 1, why);
  }
  if (!number || *number < -1000000000 || *number > 1000000000) {
    why = line.action + " takes a whole number, not " + QuoteForMessage(line.words.at(1));
    return false;
  }
  if (line.action == "tab") return dialog.UserSelectsTab(control, static_cast<int>(*number), why);
  if (line.action == "slide") return dialog.UserSlides(control, static_cast<int>(*number), why);
  why = "unknown action " + QuoteForMessage(line.action);
  return false;
}

void DumpDialog(const CMC_EditSetupDlg& dialog, const std::vector<int>& ids, std::ostream& out) {
  out << "dialog " << dialog.GetResourceId() << ' ' << QuoteForMessage(dialog.GetCaption()) << '\n';
  auto one = [&](int id) {
    const ControlState* state = dialog.GetControl(id);
    if (state == nullptr) {
      out << id << " none\n";
      return;
    }
    std::string text = state->text;
    if (state->kind == ControlKind::Combo || state->kind == ControlKind::UnitCombo || state->kind == ControlKind::Tab)
      text = state->selection >= 0 && state->selection < static_cast<int>(state->items.size())
                 ? state->items[static_cast<std::size_t>(state->selection)].text
                 : "";
    if (state->kind == ControlKind::Slider) text = std::to_string(state->position);
    out << id << ' ' << ControlKindName(state->kind) << " shown=" << state->shown << " enabled=" << state->enabled
        << " checked=" << state->checked << ' ' << QuoteForMessage(text) << '\n';
  };
  if (ids.empty()) {
    for (int id : dialog.ControlOrder()) one(id);
  } else {
    for (int id : ids) one(id);
  }
}

void PrintMessageBox(std::ostream& out, const std::string& text, int answer, bool defaulted) {
  out << "message: " << JoinLines(text) << " [" << (AnswerName(answer) ? AnswerName(answer) : "?")
      << (defaulted ? ", by default: no answer was queued" : "") << "]\n";
}

int ChooseScriptedMenuCommand(ScriptedUser& user, const std::vector<HostMenuItem>& items) {
  std::string entries;
  for (const HostMenuItem& item : items)
    if (item.command != 0) entries += (entries.empty() ? "" : ", ") + MenuText(item.text);
  const auto queued = user.TakeMenuChoice();
  const HostMenuItem* chosen = nullptr;
  if (queued && queued->first != 0) {
    for (const HostMenuItem& item : items)
      if (item.command != 0 && item.command == queued->first) chosen = &item;
    if (chosen == nullptr)
      user.Fail("line " + std::to_string(queued->second) + ": the menu has no command " +
                std::to_string(queued->first));
  }
  user.Out() << "menu: " << OneLine(entries) << " ["
             << (chosen != nullptr ? std::to_string(chosen->command) + " " + MenuText(chosen->text)
                 : queued      ? std::string("dismissed")
                               : std::string("dismissed, by default: no choice was queued"))
             << "]\n";
  return chosen != nullptr ? chosen->command : 0;
}

std::string AnswerScriptedFilePrompt(ScriptedUser& user, const FilePrompt& prompt) {
  const auto queued = user.TakeFile();
  user.Out() << "file: " << (prompt.open ? "open " : "save ") << QuoteForMessage(prompt.defaultName) << " ["
             << (queued ? OneLine(queued->first) : std::string("cancelled, by default: no file was queued")) << "]\n";
  return queued ? queued->first : std::string();
}

void ExecuteScriptLine(ScriptedUser& user, CMC_EditSetupDlg& dialog, const ScriptLine& line,
                       ScriptPlatform& platform) {
  const std::string where = Line(line);
  if (line.action == "file") {
    user.QueueFile(line.arguments, line.number);
  } else if (line.action == "menu") {
    const auto command = ParseCInteger(line.words[1]);
    if (!command || *command < 0 || *command > 65535) {
      user.Fail(where + ": menu takes a command id after the control, not " + QuoteForMessage(line.words[1]));
      return;
    }
    user.QueueMenuChoice(static_cast<int>(*command), line.number);
    std::string why;
    if (!platform.Act(dialog, line, why)) {
      user.DropMenuChoice(line.number);
      user.Fail(where + ": " + why);
    } else if (user.DropMenuChoice(line.number)) {
      user.Fail(where + ": control " + line.words[0] + " showed no menu");
    }
  } else if (line.action == "answer") {
    const auto answer = AnswerOf(line.words[0]);
    if (!answer) {
      user.Fail(where + ": answer takes yes, no, cancel, ok or help, not " + QuoteForMessage(line.words[0]));
      return;
    }
    user.QueueAnswer(*answer, line.number);
  } else if (line.action == "wait" || line.action == "until-idle") {
    const auto ms = line.words.empty() ? std::optional<long long>(60000) : ParseInteger(line.words[0]);
    if (!ms || *ms < 0 || *ms > kLongestWait_ms) {
      user.Fail(where + ": " + line.action + " takes milliseconds from 0 to 3600000 (one hour of drive time), not " +
                QuoteForMessage(line.words[0]));
      return;
    }
    auto over = [&] { return dialog.HasEnded() || user.Failed(); };
    if (line.action == "wait") {
      platform.Wait(*ms, over);
      return;
    }
    platform.Wait(*ms, [&] { return over() || !platform.Busy(); });
    if (platform.Busy() && !dialog.HasEnded())
      user.Fail(where + ": a test still runs after " + std::to_string(*ms) + " ms");
  } else if (line.action == "analogue" || line.action == "move") {
    std::string why;
    const auto action = ParseBenchAction(line, why);
    if (!action) {
      user.Fail(where + ": " + why);
    } else if (!user.Bench()) {
      user.Fail(where + ": no virtual drive to act on");
    } else if (!user.Bench()(*action, why)) {
      user.Fail(where + ": " + why);
    } else if (action->kind == BenchAction::Kind::MoveByHand) {
      // The user's hands are busy until the push is done.
      platform.Wait(std::llround(action->duration_s * 1000.0), [&] { return dialog.HasEnded() || user.Failed(); });
    }
  } else if (line.action == "dump") {
    std::vector<int> ids;
    for (const std::string& word : line.words) {
      const auto id = ParseInteger(word);
      if (!id || *id < 1 || *id > 65535) {
        user.Fail(where + ": " + QuoteForMessage(word) + " is no control id");
        return;
      }
      ids.push_back(static_cast<int>(*id));
    }
    DumpDialog(dialog, ids, user.Out());
  } else if (line.action == "screenshot") {
    std::string why;
    if (!platform.Picture(dialog, line.words[0], why)) user.Fail(where + ": " + why);
  } else if (line.action == "save-plot") {
    const auto id = ParseInteger(line.words[0]);
    const PlotDocument* plot = id && *id >= 1 && *id <= 65535 ? dialog.GetPlot(static_cast<int>(*id)) : nullptr;
    if (plot == nullptr) {
      user.Fail(where + ": " + DialogName(dialog) + " has no plot " + QuoteForMessage(line.words[0]));
      return;
    }
    if (const std::string error = plot->Save(line.words[1]); !error.empty()) user.Fail(where + ": " + error);
  } else {
    std::string why;
    if (!platform.Act(dialog, line, why)) user.Fail(where + ": " + why);
  }
}

int AnswerScriptedMessage(ScriptedUser& user, const std::string& text, unsigned style) {
  const int fallback = DefaultAnswer(style);
  const auto [answer, line] = user.TakeAnswer();
  if (answer != 0 && !StyleOffers(style, answer)) {
    user.Fail("line " + std::to_string(line) + ": answer " + AnswerName(answer) + " does not fit the message " +
              QuoteForMessage(text));
    PrintMessageBox(user.Out(), text, fallback, true);
    return fallback;
  }
  PrintMessageBox(user.Out(), text, answer != 0 ? answer : fallback, answer == 0);
  if (user.Messages()) user.Messages()(text, answer != 0 ? answer : fallback, answer == 0);
  return answer != 0 ? answer : fallback;
}

// ---------------------------------------------------------------- platform

int HeadlessPlatform::RunModal(CMC_EditSetupDlg& dialog) {
  HeadlessView view(dialog);
  if (!dialog.CreateDialog(&view)) {
    if (m_user != nullptr) m_user->Fail("cannot open dialog " + std::to_string(dialog.GetResourceId()) + ": " +
                                        dialog.GetCreateError());
    return -1;
  }
  m_stack.push_back(&dialog);
  view.Show();
  dialog.OnShowWindow(true);
  while (!dialog.HasEnded()) {
    if (m_user == nullptr || m_user->Failed()) {
      // No user, or a script that failed: every open dialog closes as if
      // cancelled, without running its own Cancel handling.
      dialog.EndDialog(IDCANCEL);
      break;
    }
    RunTimersUntil(m_clock.Now(), dialog);
    if (dialog.HasEnded()) break;
    if (!m_user->HasNextFor(dialog)) {
      if (m_user->Failed()) continue;
      m_user->Fail("the script ended while " + DialogName(dialog) + " is open");
      continue;
    }
    ExecuteScriptLine(*m_user, dialog, m_user->Take(), *this);
  }
  for (auto it = m_timers.begin(); it != m_timers.end();)
    it = it->dialog == &dialog ? m_timers.erase(it) : std::next(it);
  m_stack.pop_back();
  const int result = dialog.GetResult();
  dialog.DestroyDialog();
  return result;
}

void HeadlessPlatform::Wait(long long ms, const std::function<bool()>& stop) {
  if (m_stack.empty()) return;
  CMC_EditSetupDlg& dialog = *m_stack.back();
  const double until = m_clock.Now() + static_cast<double>(ms) / 1000.0;
  // In steps of the tests' 20 ms polling, so that `stop` is seen in time.
  while (m_clock.Now() < until && !stop()) RunTimersUntil(std::min(until, m_clock.Now() + 0.02), dialog);
}

bool HeadlessPlatform::SetTimer(CMC_EditSetupDlg& dialog, int id, int ms) {
  if (ms < 0) return false;
  KillTimer(dialog, id);
  const double period = std::max(ms, 1) / 1000.0;
  m_timers.push_back({&dialog, id, period, m_clock.Now() + period, m_timerOrder++});
  return true;
}

void HeadlessPlatform::KillTimer(CMC_EditSetupDlg& dialog, int id) {
  std::erase_if(m_timers, [&](const Timer& t) { return t.dialog == &dialog && t.id == id; });
}

bool HeadlessPlatform::FireNextDue(double until) {
  auto next = std::min_element(m_timers.begin(), m_timers.end(), [](const Timer& a, const Timer& b) {
    return a.due_s != b.due_s ? a.due_s < b.due_s : a.order < b.order;
  });
  if (next == m_timers.end() || next->due_s > until + 1e-12) return false;
  CMC_EditSetupDlg* owner = next->dialog;
  const int id = next->id;
  m_clock.Advance(next->due_s - m_clock.Now());
  // Re-armed before the handler runs: a handler that kills or sets the
  // timer again decides for itself.
  next->due_s += next->period_s;
  next->order = m_timerOrder++;
  owner->OnTimer(id);
  return true;
}

void HeadlessPlatform::RunTimersUntil(double until, CMC_EditSetupDlg& dialog) {
  while (!dialog.HasEnded() && (m_user == nullptr || !m_user->Failed()) && FireNextDue(until)) {
  }
  if (!dialog.HasEnded()) m_clock.Advance(until - m_clock.Now());
}

int HeadlessPlatform::MessageBox(const std::string& text, unsigned style, CMC_EditSetupDlg*) {
  return m_user == nullptr ? DefaultAnswer(style) : AnswerScriptedMessage(*m_user, text, style);
}

void HeadlessPlatform::PumpMessages() {
  if (!m_stack.empty()) RunTimersUntil(m_clock.Now(), *m_stack.back());
}

int HeadlessPlatform::TrackPopupMenu(const std::vector<HostMenuItem>& items, CMC_EditSetupDlg*) {
  return m_user == nullptr ? 0 : ChooseScriptedMenuCommand(*m_user, items);
}

std::string HeadlessPlatform::PromptFileName(const FilePrompt& prompt, CMC_EditSetupDlg*) {
  return m_user == nullptr ? std::string() : AnswerScriptedFilePrompt(*m_user, prompt);
}

void HeadlessPlatform::OpenHelp(const std::string& page, int contextId) {
  char context[16];
  std::snprintf(context, sizeof context, "0x%X", static_cast<unsigned>(contextId));
  m_help.push_back(page + " (context " + context + ")");
  if (m_user != nullptr) m_user->Out() << "help: " << OneLine(page) << " (context " << context << ")\n";
}

}  // namespace axcore
