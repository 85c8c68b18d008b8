#include "QtDialogView.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <optional>
#include <set>
#include <tuple>

#include "QtGaugeView.h"
#include "QtPlotView.h"
#include "axcore/Resources.h"

namespace axhost {

using axcore::ControlKind;
using axcore::ControlTemplate;

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

std::optional<int> ParseInt(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// Picture `name` of the resources, at its own size or scaled down to
// `maxHeight` pixels; null when there is no such picture.
QPixmap RenderImage(const std::string& name, int maxHeight) {
  const std::string path = axcore::FindImage(name);
  if (path.empty()) return {};
  QSvgRenderer renderer(Q(path));
  if (!renderer.isValid()) return {};
  QSize size = renderer.defaultSize();
  if (size.isEmpty()) size = QSize(32, 32);
  if (maxHeight > 0 && size.height() > maxHeight) size = size.scaled(size.width(), maxHeight, Qt::KeepAspectRatio);
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  renderer.render(&painter);
  return pixmap;
}

// Width of `chars` digits in `widget`'s font, plus the frame of a field.
int CharsWide(const QWidget* widget, int chars) {
  return widget->fontMetrics().horizontalAdvance(QString(chars, QLatin1Char('0'))) + 14;
}

// A key chord in the dialogs' form ("ctrl+alt+shift+K"): a letter with Ctrl
// or Alt held; plain typing is no chord.
std::string ChordOf(const QKeyEvent& event) {
  const Qt::KeyboardModifiers mods = event.modifiers();
  if (!(mods & (Qt::ControlModifier | Qt::AltModifier))) return {};
  if (event.key() < Qt::Key_A || event.key() > Qt::Key_Z) return {};
  std::string chord;
  if (mods & Qt::ControlModifier) chord += "ctrl+";
  if (mods & Qt::AltModifier) chord += "alt+";
  if (mods & Qt::ShiftModifier) chord += "shift+";
  chord += static_cast<char>('A' + (event.key() - Qt::Key_A));
  return chord;
}

// Puts `fresh` into `old`'s cell with its size limits, and deletes `old`.
QWidget* ReplaceWidget(QWidget* old, QWidget* fresh) {
  QWidget* parent = old->parentWidget();
  fresh->setParent(parent);
  fresh->setMinimumSize(old->minimumSize());
  QSizePolicy policy = fresh->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  fresh->setSizePolicy(policy);
  if (parent != nullptr && parent->layout() != nullptr) delete parent->layout()->replaceWidget(old, fresh);
  delete old;
  return fresh;
}

}  // namespace

QString LabelText(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    bytes += text[i];
  }
  return Q(bytes);
}

// The window: closing it (the title bar's button, Escape) is the user
// pressing Cancel; the dialog decides whether it ends.
class QtDialogView::Window_ : public QDialog {
 public:
  Window_(QtDialogView& view, QWidget* owner) : QDialog(owner), m_view(view) {}
  void reject() override { m_view.CloseRequested(); }

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    m_view.CloseRequested();
  }

 private:
  QtDialogView& m_view;
};

// Key chords pressed anywhere in the dialog, whichever widget has focus.
class QtDialogView::KeyFilter : public QObject {
 public:
  explicit KeyFilter(QtDialogView& view) : m_view(view) {}

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || !object->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(object);
    QDialog* window = m_view.Window();
    if (window == nullptr || (widget != window && !window->isAncestorOf(widget))) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->isAutoRepeat()) return false;
    const std::string chord = ChordOf(*key);
    return !chord.empty() && m_view.KeyChord(chord);
  }

 private:
  QtDialogView& m_view;
};

QtDialogView::QtDialogView(CMC_EditSetupDlg& dialog, QWidget* owner) : m_dialog(dialog), m_owner(owner) {}

QtDialogView::~QtDialogView() {
  if (m_keys) qApp->removeEventFilter(m_keys.get());
}

QDialog* QtDialogView::Window() const { return m_window.get(); }

QWidget* QtDialogView::Widget(int id) const {
  const auto found = m_controls.find(id);
  return found == m_controls.end() ? nullptr : found->second.widget;
}

QString QtDialogView::Status() const { return m_status != nullptr ? m_status->text() : QString(); }

void QtDialogView::Create() {
  if (m_window) return;
  const axcore::DialogTemplate* layout = m_dialog.GetTemplate();
  m_window = std::make_unique<Window_>(*this, m_owner);
  m_window->setWindowTitle(Q(m_dialog.GetCaption()));
  m_window->setWindowModality(Qt::ApplicationModal);

  auto* outer = new QVBoxLayout(m_window.get());
  outer->setSizeConstraint(QLayout::SetFixedSize);  // a dialog, not a resizable window
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(12);
  outer->addLayout(grid);
  m_grids[0] = grid;

  if (layout != nullptr) {
    // Every widget first, so that a control may come before its group box
    // in the template; the layouts then move each into its container.
    for (const ControlTemplate& control : layout->controls) {
      QWidget* widget = Build(control, m_window.get());
      m_controls[control.id] = Control{control.kind, widget, {}};
      Wire(control.id, control.kind, widget);
    }
    // Columns where boxes with a text sit: a box without a text lines up
    // with them; elsewhere it is centred under its column's heading.
    std::set<std::tuple<int, int, int>> boxColumns;
    for (const ControlTemplate& control : layout->controls)
      if ((control.kind == ControlKind::Check || control.kind == ControlKind::Radio) && !control.text.empty())
        boxColumns.emplace(control.parent, control.page, control.column);
    for (const ControlTemplate& control : layout->controls)
      Place(control, !boxColumns.contains({control.parent, control.page, control.column}));
  }
  // Controls keep to their cells; the spare room goes to an empty last
  // column and row of each grid, as on a dialog laid out by coordinates.
  auto pack = [](QGridLayout* container) {
    container->setColumnStretch(container->columnCount(), 1);
    container->setRowStretch(container->rowCount(), 1);
  };
  for (auto& [id, container] : m_grids)
    if (id != 0) pack(container);
  for (auto& [key, container] : m_pages) pack(container);
  grid->setRowStretch(grid->rowCount(), 1);

  m_status = new QLabel(m_window.get());
  m_status->setMinimumHeight(m_status->fontMetrics().height() + 4);
  m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
  outer->addSpacing(4);
  outer->addWidget(m_status);

  for (int id : m_dialog.ControlOrder()) {
    if (const ControlState* state = m_dialog.GetControl(id)) Update(*state);
    if (m_dialog.GetPlot(id) != nullptr) RefreshPlot(id);
  }

  m_keys = std::make_unique<KeyFilter>(*this);
  qApp->installEventFilter(m_keys.get());
}

QWidget* QtDialogView::Build(const ControlTemplate& control, QWidget* parent) {
  const QString text = Q(control.text);
  switch (control.kind) {
    case ControlKind::Group: {
      auto* box = new QGroupBox(text, parent);
      auto* grid = new QGridLayout(box);
      grid->setHorizontalSpacing(8);
      m_grids[control.id] = grid;
      return box;
    }
    case ControlKind::Label: {
      auto* label = new QLabel(LabelText(control.text), parent);
      label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      if (control.width > 0) label->setMinimumWidth(CharsWide(label, control.width));
      // A label of several lines wraps its text within its width.
      if (control.lines > 1) {
        label->setWordWrap(true);
        label->setMinimumHeight(label->fontMetrics().lineSpacing() * control.lines);
      }
      return label;
    }
    case ControlKind::Text: {
      auto* box = new QPlainTextEdit(parent);
      box->setReadOnly(true);
      const int lines = control.lines > 0 ? control.lines : 4;
      box->setFixedHeight(box->fontMetrics().lineSpacing() * lines + 12);
      box->setMinimumWidth(CharsWide(box, control.width > 0 ? control.width : 40));
      return box;
    }
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(parent);
      edit->setFixedWidth(CharsWide(edit, control.width > 0 ? control.width : 9));
      return edit;
    }
    case ControlKind::UnitCombo:
    case ControlKind::Combo: {
      auto* combo = new QComboBox(parent);
      combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
      const int chars = control.width > 0 ? control.width : (control.kind == ControlKind::UnitCombo ? 4 : 10);
      combo->setMinimumWidth(CharsWide(combo, chars) + 20);
      return combo;
    }
    case ControlKind::Radio: {
      // The dialog unchecks the other radios of a range itself.
      auto* radio = new QRadioButton(text, parent);
      radio->setAutoExclusive(false);
      return radio;
    }
    case ControlKind::Check:
      return new QCheckBox(text, parent);
    case ControlKind::Button: {
      auto* button = new QPushButton(text, parent);
      // Enter in a field commits the field; it does not press a button.
      button->setAutoDefault(false);
      return button;
    }
    case ControlKind::Slider: {
      auto* slider = new QSlider(Qt::Horizontal, parent);
      slider->setMinimumWidth(CharsWide(slider, control.width > 0 ? control.width : 16));
      return slider;
    }
    case ControlKind::Spin: {
      auto* spin = new QToolButton(parent);
      if (control.text == "<" || control.text == "-")
        spin->setArrowType(Qt::LeftArrow);
      else if (control.text == ">" || control.text == "+" || control.text.empty())
        spin->setArrowType(Qt::RightArrow);
      else
        spin->setText(text);
      return spin;
    }
    case ControlKind::Tab: {
      auto* tabs = new QTabWidget(parent);
      const axcore::DialogTemplate* layout = m_dialog.GetTemplate();
      for (const auto& [tabId, titles] : layout->pages) {
        if (tabId != control.id) continue;
        for (std::size_t page = 0; page < titles.size(); ++page) {
          auto* sheet = new QWidget;
          m_pages[{control.id, static_cast<int>(page)}] = new QGridLayout(sheet);
          tabs->addTab(sheet, Q(titles[page]));
        }
      }
      return tabs;
    }
    case ControlKind::Image: {
      auto* picture = new QLabel(parent);
      picture->setAlignment(Qt::AlignCenter);
      return picture;
    }
    case ControlKind::Plot: {
      auto* plot = new QtPlotView(parent);
      WirePlot(control.id, plot);
      const int lines = control.lines > 0 ? control.lines : 12;
      plot->setMinimumSize(CharsWide(plot, control.width > 0 ? control.width : 48),
                           plot->fontMetrics().lineSpacing() * lines);
      return plot;
    }
  }
  return new QWidget(parent);
}

void QtDialogView::Place(const ControlTemplate& control, bool centreBoxes) {
  QGridLayout* grid = m_grids[0];
  const ControlTemplate* parent = control.parent != 0 ? m_dialog.GetTemplate()->Find(control.parent) : nullptr;
  if (parent != nullptr && parent->kind == ControlKind::Group) {
    grid = m_grids[control.parent];
  } else if (parent != nullptr && parent->kind == ControlKind::Tab) {
    const int page = std::max(control.page, 0);
    auto found = m_pages.find({control.parent, page});
    if (found == m_pages.end()) {
      // A page the template has no title for.
      auto* tabs = static_cast<QTabWidget*>(m_controls[control.parent].widget);
      while (tabs->count() <= page) {
        auto* sheet = new QWidget;
        m_pages[{control.parent, tabs->count()}] = new QGridLayout(sheet);
        tabs->addTab(sheet, QString());
      }
      found = m_pages.find({control.parent, page});
    }
    grid = found->second;
  }
  QWidget* widget = m_controls[control.id].widget;
  // A hidden control keeps its place, as on a dialog laid out by coordinates.
  QSizePolicy policy = widget->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget->setSizePolicy(policy);
  // Fields keep their own width at the left of their cell. Group boxes fill
  // their cells so that they tile like a native dialog's.
  Qt::Alignment align;
  switch (control.kind) {
    case ControlKind::Check:
    case ControlKind::Radio:
      align = (control.text.empty() && centreBoxes ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter;
      break;
    case ControlKind::Label:
    case ControlKind::Edit:
    case ControlKind::UnitCombo:
    case ControlKind::Combo:
      align = Qt::AlignLeft | Qt::AlignVCenter;
      break;
    case ControlKind::Button:
      align = Qt::AlignTop;
      break;
    default:
      break;
  }
  grid->addWidget(widget, control.row, control.column, control.rows, control.columns, align);
  // A control taller than the controls beside it (a group box beside a
  // column of buttons) gives its spare height to its last row, so that the
  // buttons stay together at the top as on a native dialog.
  if (control.rows > 1) grid->setRowStretch(control.row + control.rows - 1, 1);
}

void QtDialogView::Wire(int id, ControlKind kind, QWidget* widget) {
  switch (kind) {
    case ControlKind::Edit:
      QObject::connect(static_cast<QLineEdit*>(widget), &QLineEdit::editingFinished, widget,
                       [this, id] { CommitEdit(id); });
      break;
    case ControlKind::UnitCombo:
    case ControlKind::Combo: {
      auto* combo = static_cast<QComboBox*>(widget);
      QObject::connect(combo, &QComboBox::activated, combo, [this, id, kind, combo](int index) {
        const std::string item = combo->itemText(index).toStdString();
        Deliver(id, [&](std::string& why) {
          return kind == ControlKind::UnitCombo ? m_dialog.UserPicksUnit(id, item, why)
                                                : m_dialog.UserSelects(id, item, why);
        });
      });
      break;
    }
    case ControlKind::Check:
      QObject::connect(static_cast<QCheckBox*>(widget), &QCheckBox::clicked, widget, [this, id](bool checked) {
        Deliver(id, [&](std::string& why) { return m_dialog.UserChecks(id, checked, why); });
      });
      break;
    case ControlKind::Radio:
      QObject::connect(static_cast<QRadioButton*>(widget), &QRadioButton::clicked, widget, [this, id] {
        Deliver(id, [&](std::string& why) { return m_dialog.UserClicksRadio(id, why); });
      });
      break;
    case ControlKind::Button:
    case ControlKind::Spin:
      QObject::connect(static_cast<QAbstractButton*>(widget), &QAbstractButton::clicked, widget,
                       [this, id] { Deliver(id, [&](std::string& why) { return m_dialog.UserClicks(id, why); }); });
      break;
    case ControlKind::Slider:
      QObject::connect(static_cast<QSlider*>(widget), &QSlider::valueChanged, widget, [this, id](int position) {
        Deliver(id, [&](std::string& why) { return m_dialog.UserSlides(id, position, why); });
      });
      break;
    case ControlKind::Tab:
      QObject::connect(static_cast<QTabWidget*>(widget), &QTabWidget::currentChanged, widget, [this, id](int page) {
        Deliver(id, [&](std::string& why) { return m_dialog.UserSelectsTab(id, page, why); });
      });
      break;
    default:
      break;
  }
}

void QtDialogView::WirePlot(int id, QtPlotView* plot) {
  plot->SetRightClickHandler([this, id] {
    bool handled = false;
    Deliver(id, [&](std::string& why) { return m_dialog.UserRightClicks(id, why, &handled); });
    return handled;
  });
  plot->SetWheelHandler([this, id](int steps, int curve) {
    // The steps in the high word as a signed 16-bit count, the curve in the low word.
    const auto lParam = static_cast<std::intptr_t>((static_cast<std::uint32_t>(steps) & 0xFFFFu) << 16 |
                                                   (static_cast<std::uint32_t>(curve) & 0xFFFFu));
    Deliver(id, [&](std::string& why) {
      return m_dialog.UserSendsMessage(id, axcore::kPlotWheelMessage, static_cast<std::uintptr_t>(id), lParam, why);
    });
  });
}

template <typename Call>
void QtDialogView::Deliver(int id, Call call) {
  // A dialog that has ended takes no more input (a field losing focus as
  // the window closes).
  if (m_dialog.HasEnded()) return;
  std::string why;
  const bool ok = call(why);
  m_outcome = Outcome{true, ok, why};
  if (!ok) ShowStatus(why);
  if (const ControlState* state = m_dialog.GetControl(id)) Update(*state);
}

void QtDialogView::CommitEdit(int id) {
  auto* edit = static_cast<QLineEdit*>(Widget(id));
  const ControlState* state = m_dialog.GetControl(id);
  const std::string text = edit->text().toStdString();
  // Leaving a field the user did not touch commits nothing: the text shown
  // may be a rounded form of the value.
  if (!edit->isModified() && state != nullptr && state->text == text) return;
  edit->setModified(false);
  Deliver(id, [&](std::string& why) { return m_dialog.UserTypes(id, text, why); });
}

void QtDialogView::CloseRequested() {
  const ControlState* cancel = m_dialog.GetControl(IDCANCEL);
  if (cancel == nullptr) {
    // A dialog without a Cancel button still closes as cancelled.
    m_dialog.OnCommand(IDCANCEL);
    return;
  }
  if (cancel->enabled && cancel->shown)
    Deliver(IDCANCEL, [&](std::string& why) { return m_dialog.UserClicks(IDCANCEL, why); });
}

bool QtDialogView::KeyChord(const std::string& chord) {
  Deliver(0, [&](std::string& why) { return m_dialog.UserPressesKeys(chord, why); });
  return true;
}

void QtDialogView::Update(const ControlState& state) {
  const auto found = m_controls.find(state.id);
  if (found == m_controls.end()) return;
  Control& control = found->second;
  QWidget* widget = control.widget;
  const QSignalBlocker blocker(widget);
  const QString text = Q(state.text);
  switch (control.kind) {
    case ControlKind::Group:
      static_cast<QGroupBox*>(widget)->setTitle(text);
      break;
    case ControlKind::Label:
      static_cast<QLabel*>(widget)->setText(LabelText(state.text));
      break;
    case ControlKind::Text: {
      auto* box = static_cast<QPlainTextEdit*>(widget);
      if (box->toPlainText() != text) box->setPlainText(text);
      break;
    }
    case ControlKind::Edit: {
      auto* edit = static_cast<QLineEdit*>(widget);
      edit->setMaxLength(state.limit > 0 ? state.limit : 32767);  // 32767: Qt's own default
      if (edit->text() != text) {
        edit->setText(text);
        edit->setCursorPosition(0);
      }
      edit->setModified(false);
      break;
    }
    case ControlKind::UnitCombo:
    case ControlKind::Combo: {
      auto* combo = static_cast<QComboBox*>(widget);
      bool same = combo->count() == static_cast<int>(state.items.size());
      for (int i = 0; same && i < combo->count(); ++i)
        same = combo->itemText(i) == Q(state.items[static_cast<std::size_t>(i)].text);
      if (!same) {
        combo->clear();
        for (const ComboItem& item : state.items) combo->addItem(Q(item.text));
      }
      combo->setCurrentIndex(state.selection < combo->count() ? state.selection : -1);
      break;
    }
    case ControlKind::Radio:
    case ControlKind::Check:
      static_cast<QAbstractButton*>(widget)->setText(text);
      static_cast<QAbstractButton*>(widget)->setChecked(state.checked);
      break;
    case ControlKind::Button: {
      auto* button = static_cast<QPushButton*>(widget);
      button->setText(text);
      if (state.image != control.image) {
        control.image = state.image;
        const QPixmap pixmap = RenderImage(state.image, 32);
        button->setIcon(QIcon(pixmap));
        button->setIconSize(pixmap.size());
      }
      break;
    }
    case ControlKind::Slider: {
      auto* slider = static_cast<QSlider*>(widget);
      slider->setRange(state.minimum, state.maximum);
      slider->setValue(state.position);
      break;
    }
    case ControlKind::Tab: {
      auto* tabs = static_cast<QTabWidget*>(widget);
      if (state.selection >= 0 && state.selection < tabs->count()) tabs->setCurrentIndex(state.selection);
      break;
    }
    case ControlKind::Image:
      if (state.image != control.image) {
        control.image = state.image;
        static_cast<QLabel*>(widget)->setPixmap(RenderImage(state.image, 0));
      }
      break;
    case ControlKind::Spin:
    case ControlKind::Plot:
      break;
  }
  // A group box is a frame with a title, as on a native dialog: disabling it
  // greys the title and leaves the controls inside to their own state.
  const bool greyTitle = control.kind == ControlKind::Group && !state.enabled;
  if (control.kind != ControlKind::Group && widget->isEnabled() != state.enabled) widget->setEnabled(state.enabled);
  if (widget->isHidden() == state.shown) widget->setHidden(!state.shown);
  // The warning colour: a label or field whose value is out of bounds.
  QString sheet = state.alert ? QStringLiteral("color: #c00000;") : QString();
  if (greyTitle) {
    widget->setObjectName(QStringLiteral("group%1").arg(state.id));
    sheet = QStringLiteral("QGroupBox#group%1 { color: %2; }")
                .arg(state.id)
                .arg(widget->palette().color(QPalette::Disabled, QPalette::WindowText).name());
  }
  if (widget->styleSheet() != sheet) widget->setStyleSheet(sheet);
}

void QtDialogView::RefreshPlot(int id) {
  if (!m_clock.isValid()) m_clock.start();
  // Gauges are cheap to draw and move with every reading: drawn at once.
  const axcore::PlotDocument* plot = m_dialog.GetPlot(id);
  if (plot != nullptr && plot->Kind() != axcore::PlotKind::Curves) {
    m_plotsPending.erase(id);
    DrawPlot(id);
    return;
  }
  if (m_plotsPending.count(id) != 0) return;
  const auto last = m_plotDrawn.find(id);
  const qint64 since = last == m_plotDrawn.end() ? kPlotRedraw_ms : m_clock.elapsed() - last->second;
  if (since >= kPlotRedraw_ms) {
    DrawPlot(id);
    return;
  }
  m_plotsPending.insert(id);
  QTimer::singleShot(static_cast<int>(kPlotRedraw_ms - since), m_window.get(), [this, id] {
    if (m_plotsPending.erase(id) != 0) DrawPlot(id);
  });
}

void QtDialogView::FlushPlots() {
  const std::set<int> pending = std::move(m_plotsPending);
  m_plotsPending.clear();
  for (int id : pending) DrawPlot(id);
}

void QtDialogView::DrawPlot(int id) {
  m_plotDrawn[id] = m_clock.isValid() ? m_clock.elapsed() : 0;
  const auto found = m_controls.find(id);
  const axcore::PlotDocument* plot = m_dialog.GetPlot(id);
  if (found == m_controls.end() || found->second.kind != ControlKind::Plot || plot == nullptr) return;
  QWidget*& widget = found->second.widget;
  // A gauge binds to its plot control once the window is built: the chart
  // gives way to a gauge there (and back, should the plot show curves again).
  const bool gauge = plot->Kind() != axcore::PlotKind::Curves;
  if (gauge != (dynamic_cast<QtGaugeView*>(widget) != nullptr)) {
    QWidget* fresh = new QtGaugeView;
    if (!gauge) {
      auto* chart = new QtPlotView;
      WirePlot(id, chart);
      fresh = chart;
    }
    widget = ReplaceWidget(widget, fresh);
    if (const ControlState* state = m_dialog.GetControl(id)) Update(*state);
  }
  if (gauge)
    static_cast<QtGaugeView*>(widget)->Draw(*plot);
  else
    static_cast<QtPlotView*>(widget)->Draw(*plot);
}

void QtDialogView::ShowStatus(const std::string& text) {
  if (m_status != nullptr) m_status->setText(Q(text));
}

void QtDialogView::Show() {
  if (!m_window || m_window->isVisible()) return;
  m_window->show();
  m_window->activateWindow();
}

void QtDialogView::Close() {
  if (m_window) m_window->hide();
}

bool QtDialogView::Perform(const axcore::ScriptLine& line, std::string& why) {
  m_outcome = Outcome{};
  bool done = false;
  if (line.action == "key") {
    done = PerformOnWidget(line, 0, ControlState{});
  } else if (!line.words.empty()) {
    const std::optional<int> id = ParseInt(line.words[0]);
    const ControlState* state = id ? m_dialog.GetControl(*id) : nullptr;
    QWidget* widget = id ? Widget(*id) : nullptr;
    if (state != nullptr && widget != nullptr && state->shown && state->enabled && widget->isEnabled())
      done = PerformOnWidget(line, *id, *state);
  }
  // What the widgets cannot take (a control that is missing, hidden or
  // disabled, a malformed line, an item that is not in the list) goes the
  // headless way, which refuses it with the same words.
  if (!done) return axcore::ApplyControlAction(m_dialog, line, why);
  if (m_outcome.made && !m_outcome.ok) {
    why = m_outcome.why;
    return false;
  }
  return true;
}

bool QtDialogView::PerformOnWidget(const axcore::ScriptLine& line, int id, const ControlState& state) {
  const std::string& action = line.action;
  const ControlKind kind = state.kind;
  if (action == "type" && kind == ControlKind::Edit) {
    auto* edit = static_cast<QLineEdit*>(Widget(id));
    edit->setText(Q(line.rest));
    edit->setModified(true);
    emit edit->editingFinished();
    return true;
  }
  if ((action == "unit" && kind == ControlKind::UnitCombo) ||
      (action == "select" && (kind == ControlKind::Combo || kind == ControlKind::UnitCombo))) {
    auto* combo = static_cast<QComboBox*>(Widget(id));
    const int index = combo->findText(Q(line.rest), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0) return false;
    combo->setCurrentIndex(index);
    emit combo->activated(index);
    return true;
  }
  if (action == "check" && kind == ControlKind::Check && line.words.size() == 2 &&
      (line.words[1] == "0" || line.words[1] == "1")) {
    auto* box = static_cast<QCheckBox*>(Widget(id));
    if (box->isChecked() != (line.words[1] == "1")) box->click();
    return true;
  }
  if ((action == "radio" && kind == ControlKind::Radio) ||
      (action == "click" && (kind == ControlKind::Button || kind == ControlKind::Spin || kind == ControlKind::Check ||
                             kind == ControlKind::Radio))) {
    static_cast<QAbstractButton*>(Widget(id))->click();
    return true;
  }
  if (action == "tab" && kind == ControlKind::Tab && line.words.size() == 2) {
    auto* tabs = static_cast<QTabWidget*>(Widget(id));
    const std::optional<int> page = ParseInt(line.words[1]);
    if (!page || *page < 0 || *page >= tabs->count()) return false;
    if (*page == tabs->currentIndex())
      emit tabs->currentChanged(*page);  // picking the page shown is still a pick
    else
      tabs->setCurrentIndex(*page);
    return true;
  }
  if (action == "slide" && kind == ControlKind::Slider && line.words.size() == 2) {
    auto* slider = static_cast<QSlider*>(Widget(id));
    const std::optional<int> position = ParseInt(line.words[1]);
    if (!position || *position < slider->minimum() || *position > slider->maximum()) return false;
    if (*position == slider->value())
      emit slider->valueChanged(*position);
    else
      slider->setValue(*position);
    return true;
  }
  if (action == "menu" && kind == ControlKind::Plot) {
    // A right click at the middle of the plot, as the mouse gives it.
    auto* view = dynamic_cast<QtPlotView*>(Widget(id));
    if (view == nullptr) return false;
    QWidget* target = view->viewport();
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    const QPointF global = target->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
    return true;
  }
  if (action == "key" && line.words.size() == 1) {
    // A letter with modifiers goes through the keyboard; anything else is
    // passed on as written, as a headless run does.
    std::string chord = line.words[0];
    std::transform(chord.begin(), chord.end(), chord.begin(), [](unsigned char c) { return std::tolower(c); });
    const char letter = chord.back();
    if (chord.size() < 2 || chord[chord.size() - 2] != '+' || letter < 'a' || letter > 'z') return false;
    const std::string prefix = chord.substr(0, chord.size() - 1);
    Qt::KeyboardModifiers mods;
    if (prefix.find("ctrl+") != std::string::npos) mods |= Qt::ControlModifier;
    if (prefix.find("alt+") != std::string::npos) mods |= Qt::AltModifier;
    if (prefix.find("shift+") != std::string::npos) mods |= Qt::ShiftModifier;
    const int key = Qt::Key_A + (letter - 'a');
    QKeyEvent press(QEvent::KeyPress, key, mods, QString(QLatin1Char(letter)));
    std::string pressed = ChordOf(press);
    std::transform(pressed.begin(), pressed.end(), pressed.begin(), [](unsigned char c) { return std::tolower(c); });
    if (pressed != chord) return false;
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr || !m_window->isAncestorOf(target)) target = m_window.get();
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, press.text());
    QCoreApplication::sendEvent(target, &release);
    return true;
  }
  return false;
}

}  // namespace axhost
