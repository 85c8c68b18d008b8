#include "QtPlatform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <QUrl>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>

#include "QtDialogView.h"
#include "axcore/MessageText.h"

namespace axhost {
namespace {

std::optional<long long> ParseInteger(const std::string& text) {
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::optional<int> AnswerOf(const std::string& word) {
  if (word == "yes") return IDYES;
  if (word == "no") return IDNO;
  if (word == "cancel") return IDCANCEL;
  if (word == "ok") return IDOK;
  return std::nullopt;
}

std::string DialogName(const CMC_EditSetupDlg& dialog) {
  return "dialog " + std::to_string(dialog.GetResourceId()) + " " + axcore::QuoteForMessage(dialog.GetCaption());
}

std::string ContextText(int contextId) {
  char context[16];
  std::snprintf(context, sizeof context, "0x%X", static_cast<unsigned>(contextId));
  return context;
}

// The application object's arguments must outlive it.
int g_argc = 1;
char g_name[] = "axhost";
char* g_argv[] = {g_name, nullptr};

}  // namespace

QtPlatform::QtPlatform(axcore::ScriptedUser* user, std::string screenshotDir)
    : m_user(user), m_screenshotDir(std::move(screenshotDir)) {
  if (QCoreApplication::instance() == nullptr) m_app = std::make_unique<QApplication>(g_argc, g_argv);
  m_timerOwner = std::make_unique<QObject>();
}

QtPlatform::~QtPlatform() = default;

double QtPlatform::Now() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

int QtPlatform::RunModal(CMC_EditSetupDlg& dialog) {
  QWidget* owner = m_stack.empty() ? nullptr : m_stack.back().view->Window();
  auto view = std::make_unique<QtDialogView>(dialog, owner);
  if (!dialog.CreateDialog(view.get())) {
    if (m_user != nullptr)
      m_user->Fail("cannot open dialog " + std::to_string(dialog.GetResourceId()) + ": " + dialog.GetCreateError());
    return -1;
  }
  m_stack.push_back({&dialog, view.get()});
  view->Show();
  dialog.OnShowWindow(true);
  Screenshot(dialog, *view);
  if (m_user != nullptr) {
    RunScript(dialog, *view);
  } else {
    while (!dialog.HasEnded()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  KillTimers(dialog);
  m_stack.pop_back();
  const int result = dialog.GetResult();
  dialog.DestroyDialog();
  return result;
}

void QtPlatform::RunScript(CMC_EditSetupDlg& dialog, QtDialogView& view) {
  while (!dialog.HasEnded()) {
    if (m_user->Failed()) {
      // A failed script closes every open dialog as if cancelled, without
      // running its Cancel handling.
      dialog.EndDialog(IDCANCEL);
      break;
    }
    // What is pending first: due timers, repaints.
    QCoreApplication::processEvents();
    if (dialog.HasEnded()) break;
    if (!m_user->HasNext()) {
      m_user->Fail("the script ended while " + DialogName(dialog) + " is open");
      continue;
    }
    Execute(dialog, view, m_user->Take());
  }
}

void QtPlatform::Execute(CMC_EditSetupDlg& dialog, QtDialogView& view, const axcore::ScriptLine& line) {
  const std::string where = "line " + std::to_string(line.number);
  if (line.action == "answer") {
    const auto answer = AnswerOf(line.words[0]);
    if (!answer) {
      m_user->Fail(where + ": answer takes yes, no, cancel or ok, not " + axcore::QuoteForMessage(line.words[0]));
      return;
    }
    m_user->QueueAnswer(*answer, line.number);
  } else if (line.action == "wait" || line.action == "until-idle") {
    const auto ms = line.words.empty() ? std::optional<long long>(60000) : ParseInteger(line.words[0]);
    if (!ms || *ms < 0 || *ms > 86400000LL * 365) {
      m_user->Fail(where + ": " + line.action + " takes milliseconds, not " + axcore::QuoteForMessage(line.words[0]));
      return;
    }
    auto over = [&] { return dialog.HasEnded() || m_user->Failed(); };
    if (line.action == "wait") {
      RunFor(static_cast<int>(std::min<long long>(*ms, INT32_MAX)), over);
      return;
    }
    auto busy = [&] { return m_busy && m_busy(); };
    RunFor(static_cast<int>(std::min<long long>(*ms, INT32_MAX)), [&] { return over() || !busy(); });
    if (busy() && !dialog.HasEnded()) m_user->Fail(where + ": a test still runs after " + std::to_string(*ms) + " ms");
  } else if (line.action == "dump") {
    std::vector<int> ids;
    for (const std::string& word : line.words) {
      const auto id = ParseInteger(word);
      if (!id || *id < 1 || *id > 65535) {
        m_user->Fail(where + ": " + axcore::QuoteForMessage(word) + " is no control id");
        return;
      }
      ids.push_back(static_cast<int>(*id));
    }
    axcore::DumpDialog(dialog, ids, m_user->Out());
  } else if (line.action == "save-plot") {
    m_user->Fail(where + ": " + DialogName(dialog) + " has no plot " + axcore::QuoteForMessage(line.words[0]));
  } else {
    std::string why;
    if (!view.Perform(line, why)) m_user->Fail(where + ": " + why);
  }
}

void QtPlatform::RunFor(int ms, const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  // Wakes the loop now and then to look at `done` and the time.
  QTimer wake;
  wake.start(2);
  while (!done() && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void QtPlatform::Screenshot(CMC_EditSetupDlg& dialog, QtDialogView& view) {
  if (m_screenshotDir.empty() || !m_shot.insert(dialog.GetResourceId()).second) return;
  // Laid out and polished before the picture is taken.
  QCoreApplication::processEvents();
  const QString folder = QString::fromStdString(m_screenshotDir);
  const QString path = folder + "/" + QString::number(dialog.GetResourceId()) + ".png";
  if (QDir().mkpath(folder) && view.Window()->grab().save(path, "PNG")) {
    m_screenshots.push_back(path.toStdString());
  } else {
    std::cerr << "warning: cannot save the screenshot " << axcore::OneLine(path.toStdString()) << '\n';
  }
}

bool QtPlatform::SetTimer(CMC_EditSetupDlg& dialog, int id, int ms) {
  if (ms < 0) return false;
  QTimer*& timer = m_timers[{&dialog, id}];
  if (timer == nullptr) {
    timer = new QTimer(m_timerOwner.get());
    CMC_EditSetupDlg* owner = &dialog;
    QObject::connect(timer, &QTimer::timeout, timer, [this, owner, id] {
      // Only a dialog that still runs hears its timers.
      for (const Frame& frame : m_stack)
        if (frame.dialog == owner) {
          owner->OnTimer(id);
          return;
        }
    });
  }
  timer->start(std::max(ms, 1));
  return true;
}

void QtPlatform::KillTimer(CMC_EditSetupDlg& dialog, int id) {
  // Stopped, not deleted: a handler often kills its own timer.
  if (auto found = m_timers.find({&dialog, id}); found != m_timers.end()) found->second->stop();
}

void QtPlatform::KillTimers(CMC_EditSetupDlg& dialog) {
  for (auto it = m_timers.begin(); it != m_timers.end();) {
    if (it->first.first == &dialog) {
      delete it->second;
      it = m_timers.erase(it);
    } else {
      ++it;
    }
  }
}

int QtPlatform::MessageBox(const std::string& text, unsigned style, CMC_EditSetupDlg* owner) {
  const int fallback = axcore::DefaultAnswer(style);
  if (m_user != nullptr) {
    // A script's message boxes are answered from the script and printed.
    const auto [answer, line] = m_user->TakeAnswer();
    if (answer != 0 && !axcore::StyleOffers(style, answer)) {
      m_user->Fail("line " + std::to_string(line) + ": answer " + axcore::AnswerName(answer) +
                   " does not fit the message " + axcore::QuoteForMessage(text));
      axcore::PrintMessageBox(m_user->Out(), text, fallback, true);
      return fallback;
    }
    axcore::PrintMessageBox(m_user->Out(), text, answer != 0 ? answer : fallback, answer == 0);
    return answer != 0 ? answer : fallback;
  }

  QWidget* parent = nullptr;
  for (const Frame& frame : m_stack)
    if (frame.dialog == owner) parent = frame.view->Window();
  if (parent == nullptr && !m_stack.empty()) parent = m_stack.back().view->Window();
  QMessageBox box(parent);
  box.setWindowTitle(owner != nullptr ? QString::fromStdString(owner->GetCaption()) : QStringLiteral("axhost"));
  box.setText(QString::fromStdString(text));
  switch (style & 0xF0) {
    case MB_ICONERROR:
      box.setIcon(QMessageBox::Critical);
      break;
    case MB_ICONQUESTION:
      box.setIcon(QMessageBox::Question);
      break;
    case MB_ICONWARNING:
      box.setIcon(QMessageBox::Warning);
      break;
    case MB_ICONINFORMATION:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      break;
  }
  constexpr std::pair<int, QMessageBox::StandardButton> kButtons[] = {
      {IDYES, QMessageBox::Yes}, {IDNO, QMessageBox::No}, {IDOK, QMessageBox::Ok}, {IDCANCEL, QMessageBox::Cancel}};
  for (const auto& [answer, button] : kButtons)
    if (axcore::StyleOffers(style, answer)) box.addButton(button);
  for (const auto& [answer, button] : kButtons) {
    if (answer == fallback) box.setDefaultButton(button);
    if (answer == IDCANCEL && axcore::StyleOffers(style, IDCANCEL)) box.setEscapeButton(button);
  }
  box.exec();
  for (const auto& [answer, button] : kButtons)
    if (box.clickedButton() == box.button(button)) return answer;
  return fallback;
}

void QtPlatform::PumpMessages() { QCoreApplication::processEvents(); }

void QtPlatform::OpenHelp(const std::string& page, int contextId) {
  const std::string context = ContextText(contextId);
  m_help.push_back(page + " (context " + context + ")");
  if (m_user != nullptr) {
    m_user->Out() << "help: " << axcore::OneLine(page) << " (context " << context << ")\n";
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(page)));
}

std::unique_ptr<axcore::Platform> MakeQtPlatform(axcore::ScriptedUser* user, const std::string& screenshotDir) {
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  // Qt would abort when it finds no display; decide before it looks.
  if (QCoreApplication::instance() == nullptr && !set("QT_QPA_PLATFORM") && !set("DISPLAY") &&
      !set("WAYLAND_DISPLAY")) {
    if (user == nullptr) return nullptr;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  return std::make_unique<QtPlatform>(user, screenshotDir);
}

}  // namespace axhost
