// Gauges on the desktop view: bars bound to plot controls after the window
// is built show in the dialog's picture, in their colour when enabled and
// in greys when not.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "QtPlatform.h"
#include "axcore/HeadlessPlatform.h"
#include "axcore/Resources.h"
#include "axcore/Setup.h"
#include "axcore/TestPlots.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kTemplate = R"({"format": "axdialog-1", "id": 9702, "caption": "Bars",
  "controls": [
    {"id": 20, "kind": "plot", "at": [0, 0], "lines": 3, "width": 40},
    {"id": 21, "kind": "plot", "at": [1, 0], "lines": 3, "width": 40},
    {"id": 2, "kind": "button", "text": "Close", "at": [2, 0]}]})";

class Bars : public CMC_EditSetupDlg {
 public:
  explicit Bars(CMC_Setup* setup) : CMC_EditSetupDlg(setup, 9702, 1) {}
  bool OnInitDialog() override {
    CMC_EditSetupDlg::OnInitDialog();
    const std::pair<CBarGraph*, unsigned long> bars[] = {{&m_red, 0x0000FF}, {&m_green, 0x00FF00}};
    for (auto [bar, colour] : bars) {
      bar->SubclassDlgItem(bar == &m_red ? 20 : 21, this);
      bar->SetLimits(-10, 10);
      bar->SetCurrentValue(7.5);
      bar->SetColor(colour);
      bar->Repaint();
    }
    m_green.EnableWindow(false);
    return true;
  }

 private:
  CBarGraph m_red, m_green;
};

TEST(QtGauges, ABarBoundAfterTheWindowIsBuiltIsDrawnInItsColourUnlessDisabled) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const fs::path folder = fs::path(::testing::TempDir()) / "qt_gauge_test";
  fs::create_directories(folder / "dialogs");
  fs::create_directories(folder / "runtime");
  fs::permissions(folder / "runtime", fs::perms::owner_all, fs::perm_options::replace);
  ::setenv("XDG_RUNTIME_DIR", (folder / "runtime").c_str(), 1);
  std::ofstream(folder / "dialogs" / "9702.json") << kTemplate;
  axcore::RegisterResourceFolder(folder.string());

  std::string error;
  auto lines = axcore::ParseScript("click 2\n", error);
  ASSERT_TRUE(lines) << error;
  std::ostringstream out;
  axcore::ScriptedUser user(std::move(*lines), out);
  auto platform = axhost::MakeQtPlatform(&user, (folder / "shots").string());
  axcore::InstallPlatform(platform.get());
  CMC_Setup setup;
  {
    Bars dialog(&setup);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  }
  axcore::InstallPlatform(nullptr);
  axcore::WithdrawResourceFolder(folder.string());

  const QImage picture(QString::fromStdString((folder / "shots" / "9702.png").string()));
  ASSERT_FALSE(picture.isNull());
  int red = 0, green = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) {
      const QRgb pixel = picture.pixel(x, y) & 0xFFFFFF;
      red += pixel == 0xFF0000;
      green += pixel == 0x00FF00;
    }
  // The red bar fills 0 to 7.5 of -10 to 10 (37.5 % of a track about 40
  // digits wide) over the trough's height.
  EXPECT_GT(red, 1000);
  EXPECT_EQ(green, 0);
}

}  // namespace
