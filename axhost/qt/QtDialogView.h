// A dialog of the host on Qt widgets: the window is built from the dialog's
// template, every state change of a control is mirrored into its widget,
// and what the user does with a widget becomes the dialog's User... call.
// Scripted runs act through the same widgets (Perform), so that a script
// exercises exactly the wiring a user's mouse and keyboard go through.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "axcore/EditSetupDlg.h"
#include "axcore/HeadlessPlatform.h"

class QDialog;
class QGridLayout;
class QLabel;
class QObject;
class QWidget;

namespace axhost {

class QtPlotView;

// A text of the resources as a label shows it: "&&" is a literal '&' and a
// single '&' marks the mnemonic letter, which a static text does not show.
QString LabelText(const std::string& text);

class QtDialogView : public axcore::DialogView {
 public:
  // `owner`: the window the dialog is modal over (null: the application).
  QtDialogView(CMC_EditSetupDlg& dialog, QWidget* owner);
  ~QtDialogView() override;
  QtDialogView(const QtDialogView&) = delete;
  QtDialogView& operator=(const QtDialogView&) = delete;

  void Create() override;
  void Update(const ControlState& state) override;
  void ShowStatus(const std::string& text) override;
  void Show() override;
  void Close() override;
  // A plot is redrawn at most every kPlotRedraw_ms: a dialog that adds its
  // points one by one asks far more often than the eye can follow.
  void RefreshPlot(int id) override;
  // Draws every plot that waits for its next redraw now (before a picture
  // of the window is taken).
  void FlushPlots();
  static constexpr int kPlotRedraw_ms = 50;

  QDialog* Window() const;
  QWidget* Widget(int id) const;
  QString Status() const;

  // Carries out a control action of a script (type, unit, check, radio,
  // select, tab, slide, click, key, and menu on a plot) through the widgets; false with the
  // reason when the dialog refused it or the control cannot take it (the
  // reasons are those of a headless run of the same line).
  bool Perform(const axcore::ScriptLine& line, std::string& why);

 private:
  struct Control {
    axcore::ControlKind kind;
    QWidget* widget = nullptr;
    std::string image;  // the picture shown now
  };
  struct Outcome {
    bool made = false;  // a User... call was made
    bool ok = true;
    std::string why;
  };
  class Window_;
  class KeyFilter;

  QWidget* Build(const axcore::ControlTemplate& control, QWidget* parent);
  // `centreBoxes`: a check box or radio button without a text is centred
  // in its cell (a column of them under a heading).
  void Place(const axcore::ControlTemplate& control, bool centreBoxes);
  void Wire(int id, axcore::ControlKind kind, QWidget* widget);
  // Runs a User... call of a widget's signal, keeps its outcome, shows a
  // refusal in the status line and gives the widget the dialog's state
  // again (a refused check box unchecks, a clicked radio stays set).
  template <typename Call>
  void Deliver(int id, Call call);
  void CommitEdit(int id);
  void CloseRequested();
  bool KeyChord(const std::string& chord);
  bool PerformOnWidget(const axcore::ScriptLine& line, int id, const ControlState& state);
  void DrawPlot(int id);
  // A plot's right click and wheel go to the dialog.
  void WirePlot(int id, QtPlotView* plot);

  CMC_EditSetupDlg& m_dialog;
  QWidget* m_owner;
  std::unique_ptr<Window_> m_window;
  std::unique_ptr<KeyFilter> m_keys;
  QLabel* m_status = nullptr;
  std::map<int, Control> m_controls;
  std::map<int, QGridLayout*> m_grids;                  // 0: the dialog, else group boxes
  std::map<std::pair<int, int>, QGridLayout*> m_pages;  // tab control, page
  Outcome m_outcome;
  std::map<int, qint64> m_plotDrawn;  // when each plot was last drawn, ms of m_clock
  std::set<int> m_plotsPending;       // plots with a redraw scheduled
  QElapsedTimer m_clock;
};

}  // namespace axhost
