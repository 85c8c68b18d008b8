// The desktop platform: dialogs as Qt widgets on the wall clock. With a
// scripted user the modal loop takes the script's actions and carries them
// out through the widgets, and message boxes are answered from the script
// and printed instead of shown, so a script means on the desktop what it
// means headless (run offscreen with QT_QPA_PLATFORM=offscreen).
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "axcore/HeadlessPlatform.h"
#include "axcore/Platform.h"

class QApplication;
class QObject;
class QTimer;
class QWidget;

namespace axhost {

class QtDialogView;

class QtPlatform : public axcore::Platform, private axcore::ScriptPlatform {
 public:
  // `user`: the script to run, or null for a person at the screen.
  // `screenshotDir`: where each dialog's picture is saved as
  // <resource id>.png when it is first shown; empty: none.
  QtPlatform(axcore::ScriptedUser* user, std::string screenshotDir);
  ~QtPlatform() override;

  double Now() const override;
  int RunModal(CMC_EditSetupDlg& dialog) override;
  bool SetTimer(CMC_EditSetupDlg& dialog, int id, int ms) override;
  void KillTimer(CMC_EditSetupDlg& dialog, int id) override;
  int MessageBox(const std::string& text, unsigned style, CMC_EditSetupDlg* owner) override;
  void PumpMessages() override;
  void OpenHelp(const std::string& page, int contextId) override;
  // A QMenu at the pointer; a script's choice is taken from the script and
  // printed instead.
  int TrackPopupMenu(const std::vector<axcore::HostMenuItem>& items, CMC_EditSetupDlg* owner) override;
  // A QFileDialog; a script's answer is taken from the script and printed
  // instead.
  std::string PromptFileName(const axcore::FilePrompt& prompt, CMC_EditSetupDlg* owner) override;

  using ScriptPlatform::SetBusyProbe;
  // Help pages a scripted run asked for, as "PAGE (context 0xID)"; a
  // script opens no browser.
  const std::vector<std::string>& HelpRequests() const { return m_help; }
  // The screenshots saved so far.
  const std::vector<std::string>& Screenshots() const { return m_screenshots; }

 private:
  struct Frame {
    CMC_EditSetupDlg* dialog;
    QtDialogView* view;
  };
  void RunScript(CMC_EditSetupDlg& dialog);
  void Wait(long long ms, const std::function<bool()>& stop) override;
  // Through the widgets of the dialog's view.
  bool Act(CMC_EditSetupDlg& dialog, const axcore::ScriptLine& line, std::string& why) override;
  // DIR/NAME.png of the dialog now (NAME: letters, digits, '-', '_', '.').
  bool Picture(CMC_EditSetupDlg& dialog, const std::string& name, std::string& why) override;
  // Runs the event loop until `done` says so or `ms` milliseconds passed.
  void RunFor(int ms, const std::function<bool()>& done);
  void Screenshot(CMC_EditSetupDlg& dialog, QtDialogView& view);
  void KillTimers(CMC_EditSetupDlg& dialog);
  // The window of `owner` when it is on the screen, else the topmost
  // dialog's; null when none is.
  QWidget* WindowOf(const CMC_EditSetupDlg* owner) const;

  axcore::ScriptedUser* m_user;
  std::string m_screenshotDir;
  std::unique_ptr<QApplication> m_app;  // when none existed
  std::unique_ptr<QObject> m_timerOwner;
  std::map<std::pair<CMC_EditSetupDlg*, int>, QTimer*> m_timers;
  std::vector<Frame> m_stack;
  std::set<int> m_shot;
  std::vector<std::string> m_screenshots;
  std::vector<std::string> m_help;
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// The desktop platform, creating the application object when there is none.
// Without a display (no QT_QPA_PLATFORM, DISPLAY or WAYLAND_DISPLAY) a
// scripted run draws offscreen, and a run for a person gives null: there is
// no screen to show the dialogs on.
std::unique_ptr<axcore::Platform> MakeQtPlatform(axcore::ScriptedUser* user, const std::string& screenshotDir);

}  // namespace axhost
