// The graph of a logger: the logged points as a table in base units, the
// curves drawn from its columns, and the window of a dialog that shows them.
//
// A logger owns one CGraphDocument. Its columns are the time ("time_s") and
// the logged variables by their drive names, each with the unit of the
// setup's variable of that name; its rows are the points read so far, in
// base units. A curve set lists CXYCurve curves: a column on the horizontal
// axis, a column on vertical axis 1 (left) or 2 (right), a colour and a line
// style by the host's index values. LocateItems titles the axes from the
// columns. A CGraphWindow bound to a dialog's plot control draws the first
// curve set (and any overlay curves, such as a predicted response) into that
// control's plot document, whole (RefreshGraph) or one new point at a time
// (UpdateLastPoint), so a dialog can draw while it uploads.
//
// Host index values:
//   - colour: RGB16(n) is the n-th of the sixteen plot colours (PlotColour),
//     n taken modulo 16: 0 blue, 1 red, 2 green, 3 orange, 4 purple, 5 teal,
//     6 brown, 7 grey, 8 amber, 9 navy, 10 magenta, 11 olive, 12 sky blue,
//     13 sienna, 14 slate, 15 silver;
//   - style: 1 dashed, 3 dotted, any other value (0, 2) a solid line.
//
// Saving (CMC_Logger::SaveGraph) writes the table as CSV: a header row
// "time_s" and the variables' drive names, then one row per point with ten
// significant digits, and the picture as SVG and PNG. The user can also
// export one graph to a file of their choice: its picture
// (CGraphWindow::CreateWMF) or its table (CGraphFilter::ExportToASCII).
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "axcore/PlotDocument.h"

class CMC_EditSetupDlg;

// A colour index of the host's palette (see above).
int RGB16(int index);

class CXYCurve {
 public:
  // Column `xColumn` against column `yColumn` on vertical axis `axis` (1:
  // left, 2: right), colour RGB16 index `colour`, style index `style`.
  CXYCurve(int xColumn, int yColumn, int axis, int colour, int style)
      : m_x(xColumn), m_y(yColumn), m_axis(axis), m_colour(colour), m_style(style) {}
  int XColumn() const { return m_x; }
  int YColumn() const { return m_y; }
  int Axis() const { return m_axis; }
  int Colour() const { return m_colour; }
  int Style() const { return m_style; }

 private:
  int m_x, m_y, m_axis, m_colour, m_style;
};

class CCurveSet {
 public:
  void AddCurve(const CXYCurve& curve) { m_curves.push_back(curve); }
  void RemoveAllCurves() { m_curves.clear(); }
  const std::vector<CXYCurve>& Curves() const { return m_curves; }

 private:
  std::vector<CXYCurve> m_curves;
};

struct GraphColumn {
  std::string name;  // "time_s" for column 0, else the drive variable's name
  std::string unit;  // base unit; "" for counts or a plain number
};

class CGraphDocument {
 public:
  CGraphDocument();

  // --- the table
  // Column 0 is the time; the logger adds one column per logged variable.
  void SetColumns(std::vector<GraphColumn> columns);
  const std::vector<GraphColumn>& Columns() const { return m_columns; }
  // A row has one value per column; a shorter row is padded with NaN.
  void AddRow(std::vector<double> row);
  void ClearRows();
  // Replaces row `index`, or adds it when it is the next row (a scope's
  // ring of window points); false, nothing changed, beyond that.
  bool SetRow(std::size_t index, std::vector<double> row);
  const std::vector<std::vector<double>>& Rows() const { return m_rows; }
  // The values of one column, row by row (NaN where a row lacks it).
  std::vector<double> Column(int column) const;

  // --- the curves: curve set 0 always exists.
  CCurveSet& GetCurveSet(int index = 0);
  const CCurveSet& GetCurveSet(int index = 0) const;
  // Curves drawn with the first curve set that are not logged (a predicted
  // response): not part of the CSV.
  void SetOverlay(std::vector<axcore::PlotCurve> curves) { m_overlay = std::move(curves); }
  const std::vector<axcore::PlotCurve>& Overlay() const { return m_overlay; }

  // How a column is drawn: value x gain + bias, so that a scope channel
  // sits on its own scale; the rows and the CSV keep the value itself.
  // SetColumns draws every column as it is again.
  void SetColumnDisplay(int column, double gain, double bias);
  // A note the legend shows after the column's curve name, in parentheses
  // (a scope channel's scale: "0.2 m/s/div"); "" for none. SetColumns
  // clears the notes.
  void SetColumnNote(int column, std::string note);
  // The left axis counts `divisions` divisions, from -divisions/2 to
  // +divisions/2 with a tick at each, titled "Divisions" (a scope's
  // screen); 0: the axis follows the data.
  void SetDivisions(int divisions) { m_divisions = divisions > 0 ? divisions : 0; }
  int Divisions() const { return m_divisions; }
  // The value of `column` in `row` as drawn; NaN where the row lacks it.
  double DrawnCell(const std::vector<double>& row, int column) const;

  // Titles the axes from the columns: the horizontal axis "Time (s)", each
  // vertical axis after the variable drawn on it, or after the quantity of
  // several ("Current" for amperes), with the unit of the first of them.
  void LocateItems();

  // The plot as drawn: the curves of curve set 0 over all rows, then the
  // overlay, on the titled axes; `title` on top.
  axcore::PlotDocument ToPlot(const std::string& title = {}) const;
  // The table: header "time_s,NAME,...", one row per point, values with
  // ten significant digits, an empty cell for NaN.
  std::string ToCsv() const;

 private:
  std::vector<GraphColumn> m_columns;
  std::vector<std::vector<double>> m_rows;
  std::vector<CCurveSet> m_sets;
  std::vector<axcore::PlotCurve> m_overlay;
  std::vector<std::pair<double, double>> m_display;  // gain, bias by column
  std::vector<std::string> m_notes;                  // legend notes by column
  int m_divisions = 0;
  std::string m_axisTitle[3];
  std::string m_axisUnit[3];
};

// The window that shows a graph document in a plot control of a dialog.
class CGraphWindow {
 public:
  // The host's window style and options; kept for the modules that pass
  // them (2, 0), with no effect here.
  CGraphWindow(int style = 2, int options = 0) : m_style(style), m_options(options) {}

  // Binds to plot control `id` of `dialog`, drawing `document`'s curve set
  // 0; false when the dialog has no such plot control.
  bool SubclassDlgItem(int id, CMC_EditSetupDlg* dialog, CGraphDocument* document);
  // Draws the whole document again.
  void RefreshGraph();
  // Same as RefreshGraph: the window is drawn anew.
  void Invalidate() { RefreshGraph(); }
  // Adds the document's last row to the drawn curves and redraws: the
  // dialog's drawing loop calls it once per point it reads.
  void UpdateLastPoint();
  // Draws row `index` of the document in place of point `index` of the
  // drawn curves (a scope's ring, whose window points are replaced one by
  // one as a new sweep passes), or adds it as their next point.
  void UpdatePoint(int index);
  // Shows the whole graph again: the axes take the data's full range, a
  // zoom the user made is dropped.
  void DoZoomOut();
  // The title drawn above the graph.
  void SetTitle(std::string title) { m_title = std::move(title); }
  // The document the window draws; null before SubclassDlgItem.
  CGraphDocument* GetDocument() const { return m_document; }
  CMC_EditSetupDlg* GetDialog() const { return m_dialog; }
  // Exports the graph as a vector picture to a file the user picks (a save
  // prompt offering NAME.svg in the graph folder; here the picture is SVG,
  // titled with the window's title, else NAME). Non-zero when written; a
  // file that cannot be written is told to the user. 0 without a prompt
  // when the window shows no document.
  int CreateWMF(const char* name);

 private:
  axcore::PlotDocument* Plot() const;

  int m_style, m_options;
  CMC_EditSetupDlg* m_dialog = nullptr;
  int m_id = 0;
  CGraphDocument* m_document = nullptr;
  std::string m_title;
};

// Exports of a graph's data.
class CGraphFilter {
 public:
  // Exports the table of the document `graph` shows to a file the user
  // picks (a save prompt offering NAME.csv in the graph folder): the CSV
  // that CMC_Logger::SaveGraph writes. Non-zero when written; a file that
  // cannot be written is told to the user. 0 without a prompt when the
  // window shows no document.
  static int ExportToASCII(CGraphWindow& graph, const char* name);
};
