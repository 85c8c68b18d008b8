#include "QtPlatform.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QPixmap>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>

#include "QtDialogView.h"
#include "axcore/FileOutput.h"
#include "axcore/MessageText.h"

namespace axhost {
namespace {

std::string ContextText(int contextId) {
  char context[16];
  std::snprintf(context, sizeof context, "0x%X", static_cast<unsigned>(contextId));
  return context;
}

// A screenshot as PNG, written whole or not at all as every file the host
// writes. Empty, or why not.
std::string SavePicture(const QPixmap& picture, const std::string& path) {
  QByteArray png;
  QBuffer buffer(&png);
  if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG"))
    return axcore::OneLine(path) + ": cannot write: the picture could not be encoded";
  return axcore::ReplaceFile(path, png.toStdString());
}

std::string OneLineCannotCreate(const std::string& path) {
  return axcore::OneLine(path) + ": cannot write: cannot create its folder";
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
    RunScript(dialog);
  } else {
    while (!dialog.HasEnded()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  KillTimers(dialog);
  m_stack.pop_back();
  const int result = dialog.GetResult();
  dialog.DestroyDialog();
  return result;
}

void QtPlatform::RunScript(CMC_EditSetupDlg& dialog) {
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
    if (!m_user->HasNextFor(dialog)) {
      if (m_user->Failed()) continue;
      m_user->Fail("the script ended while " + axcore::DialogName(dialog) + " is open");
      continue;
    }
    axcore::ExecuteScriptLine(*m_user, dialog, m_user->Take(), *this);
  }
}

void QtPlatform::Wait(long long ms, const std::function<bool()>& stop) {
  RunFor(static_cast<int>(std::min<long long>(ms, INT32_MAX)), stop);
}

bool QtPlatform::Act(CMC_EditSetupDlg& dialog, const axcore::ScriptLine& line, std::string& why) {
  for (const Frame& frame : m_stack)
    if (frame.dialog == &dialog) return frame.view->Perform(line, why);
  return axcore::ApplyControlAction(dialog, line, why);
}

void QtPlatform::RunFor(int ms, const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  // Wakes the loop now and then to look at `done` and the time.
  QTimer wake;
  wake.start(2);
  while (!done() && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

bool QtPlatform::Picture(CMC_EditSetupDlg& dialog, const std::string& name, std::string& why) {
  if (m_screenshotDir.empty()) {
    why = "screenshot needs a folder: give --screenshot DIR";
    return false;
  }
  const bool plain = !name.empty() && name.front() != '.' &&
                     std::all_of(name.begin(), name.end(), [](unsigned char c) {
                       return std::isalnum(c) || c == '-' || c == '_' || c == '.';
                     });
  if (!plain) {
    why = "a screenshot's name is letters, digits, '-', '_' and '.', not " + axcore::QuoteForMessage(name);
    return false;
  }
  for (const Frame& frame : m_stack) {
    if (frame.dialog != &dialog) continue;
    // A chart that was just drawn anew leaves its old axes to a deferred
    // delete, which a nested event loop does not run by itself.
    frame.view->FlushPlots();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    const QString folder = QString::fromStdString(m_screenshotDir);
    const QString path = folder + "/" + QString::fromStdString(name) + ".png";
    if (!QDir().mkpath(folder)) {
      why = OneLineCannotCreate(path.toStdString());
      return false;
    }
    if (std::string error = SavePicture(frame.view->Window()->grab(), path.toStdString()); !error.empty()) {
      why = error;
      return false;
    }
    m_screenshots.push_back(path.toStdString());
    return true;
  }
  why = "the dialog is not on the screen";
  return false;
}

void QtPlatform::Screenshot(CMC_EditSetupDlg& dialog, QtDialogView& view) {
  if (m_screenshotDir.empty() || !m_shot.insert(dialog.GetResourceId()).second) return;
  // Laid out and polished, with every plot drawn, before the picture is
  // taken.
  view.FlushPlots();
  QCoreApplication::processEvents();
  const QString folder = QString::fromStdString(m_screenshotDir);
  const QString path = folder + "/" + QString::number(dialog.GetResourceId()) + ".png";
  const std::string error = QDir().mkpath(folder) ? SavePicture(view.Window()->grab(), path.toStdString())
                                                   : OneLineCannotCreate(path.toStdString());
  if (error.empty()) {
    m_screenshots.push_back(path.toStdString());
  } else {
    std::cerr << "warning: cannot save the screenshot: " << axcore::JoinLines(error) << '\n';
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
  // A script's message boxes are answered from the script and printed.
  if (m_user != nullptr) return axcore::AnswerScriptedMessage(*m_user, text, style);

  QMessageBox box(WindowOf(owner));
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
      {IDYES, QMessageBox::Yes},
      {IDNO, QMessageBox::No},
      {IDOK, QMessageBox::Ok},
      {IDCANCEL, QMessageBox::Cancel},
      {IDHELP, QMessageBox::Help}};
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

QWidget* QtPlatform::WindowOf(const CMC_EditSetupDlg* owner) const {
  for (const Frame& frame : m_stack)
    if (frame.dialog == owner) return frame.view->Window();
  return m_stack.empty() ? nullptr : m_stack.back().view->Window();
}

int QtPlatform::TrackPopupMenu(const std::vector<axcore::HostMenuItem>& items, CMC_EditSetupDlg* owner) {
  if (m_user != nullptr) return axcore::ChooseScriptedMenuCommand(*m_user, items);
  QMenu menu(WindowOf(owner));
  for (const axcore::HostMenuItem& item : items) {
    if (item.command == 0) {
      menu.addSeparator();
    } else {
      menu.addAction(QString::fromStdString(item.text))->setData(item.command);
    }
  }
  const QAction* chosen = menu.exec(QCursor::pos());
  return chosen != nullptr ? chosen->data().toInt() : 0;
}

std::string QtPlatform::PromptFileName(const axcore::FilePrompt& prompt, CMC_EditSetupDlg* owner) {
  if (m_user != nullptr) return axcore::AnswerScriptedFilePrompt(*m_user, prompt);
  const QDir folder(prompt.folder.empty() ? QDir::currentPath() : QString::fromStdString(prompt.folder));
  QFileDialog box(WindowOf(owner), QString::fromStdString(prompt.title),
                  prompt.open ? folder.path() : folder.filePath(QString::fromStdString(prompt.defaultName)),
                  QString::fromStdString(prompt.filter) + QStringLiteral(";;All files (*)"));
  box.setAcceptMode(prompt.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  box.setFileMode(prompt.open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  // A name typed without an extension gets the kind's own.
  const std::string& name = prompt.defaultName;
  if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot + 1 < name.size())
    box.setDefaultSuffix(QString::fromStdString(name.substr(dot + 1)));
  if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) return {};
  return box.selectedFiles().first().toStdString();
}

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
