// The user-interface resources shipped beside the plug-in: the host builds
// every dialog from its template and opens the manual at a dialog's context
// id, so a template that does not read, a control on a page its tab does not
// have, a picture that is missing or a context without its page only shows
// when a user opens that dialog or presses Help.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include "axcore/DialogTemplate.h"
#include "axcore/JsonInput.h"
#include "axcore/Resources.h"

namespace {

namespace fs = std::filesystem;

fs::path ResourceDir() { return fs::path(AX_PLUGIN_PATH).parent_path() / "resources"; }

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<axcore::DialogTemplate> ReadTemplate(int id) {
  const fs::path path = ResourceDir() / "dialogs" / (std::to_string(id) + ".json");
  std::string error;
  auto parsed = axcore::ParseDialogTemplate(ReadText(path), path.string(), error);
  EXPECT_TRUE(parsed) << error;
  return parsed;
}

// The tab page a control lies on, through the group boxes around it; -1 when
// it lies on no tab.
int PageOf(const axcore::DialogTemplate& dialog, const axcore::ControlTemplate& control, int tabId) {
  for (const axcore::ControlTemplate* c = &control; c != nullptr && c->parent != 0; c = dialog.Find(c->parent))
    if (c->parent == tabId) return c->page;
  return -1;
}

TEST(ShippedDialogs, EveryTemplateReadsWithItsPicturesAndPages) {
  const fs::path dir = ResourceDir() / "dialogs";
  ASSERT_TRUE(fs::is_directory(dir)) << dir;
  int count = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    SCOPED_TRACE(entry.path().filename().string());
    const auto dialog = ReadTemplate(std::stoi(entry.path().stem().string()));
    if (!dialog) continue;
    ++count;
    EXPECT_EQ(std::to_string(dialog->id), entry.path().stem().string());
    std::map<int, std::size_t> pages;
    for (const auto& [tab, titles] : dialog->pages) pages[tab] = titles.size();
    for (const axcore::ControlTemplate& c : dialog->controls) {
      if (!c.image.empty()) {
        EXPECT_TRUE(fs::exists(ResourceDir() / "images" / (c.image + ".svg"))) << c.id << " shows " << c.image;
      }
      const axcore::ControlTemplate* parent = c.parent != 0 ? dialog->Find(c.parent) : nullptr;
      const bool onTab = parent != nullptr && parent->kind == axcore::ControlKind::Tab;
      if (c.kind == axcore::ControlKind::Tab) {
        EXPECT_GT(pages[c.id], 0u) << "tab " << c.id << " has no page titles";
      }
      if (onTab) {
        EXPECT_TRUE(c.page >= 0 && static_cast<std::size_t>(c.page) < pages[c.parent])
            << c.id << " on page " << c.page << " of tab " << c.parent;
      } else {
        EXPECT_EQ(c.page, -1) << c.id << " names a page outside a tab control";
      }
    }
  }
  EXPECT_GE(count, 18);
}

// What the tuning tests' code shows on each page must sit on that page: a
// control on the other page is shown over a page it does not belong to. No
// two controls share a cell (the desktop view would draw them over each
// other) except those that stand in for one another: the speed and position
// tests show either the data logger's graph or the on-line plot in one place.
TEST(ShippedDialogs, TheTuningTestsKeepEachControlOnThePageThatShowsIt) {
  struct Case {
    int id;
    const char* caption;
    std::vector<int> parameters, test;
    std::size_t below = 5;        // the tab, Details, Help, OK and Cancel
    std::vector<int> standIns{};  // controls shown one at a time in one cell
  };
  const Case cases[] = {
      {101,
       "Current Controller Tuning Test",
       {1120, 1121, 1303, 1304, 1301, 1123, 1376, 1377, 10014, 10015, 1119, 1122},
       {10000, 1339, 1340, 1342, 1343, 1341, 1334, 1335, 1337, 1338, 1336, 1361, 1372, 1375, 10002, 10004, 1374,
        10001, 1333, 3138, 3142, 3139, 3140, 3141, 3143, 3147, 3146, 3145, 3144, 3148, 3149, 3150, 3155, 3151, 3152,
        3153, 3154, 3156}},
      {3057,
       "Electric Angle Controller Tuning Test",
       {10014, 10015, 1376, 1377, 1301, 1123, 3361, 3362, 3363, 3364, 3365, 3366, 3367, 3368, 3369},
       {10000, 1339, 1340, 1342, 1343, 1341, 1334, 1335, 1337, 1338, 1336, 1361, 1372, 1375, 10002, 10004, 1374,
        10001, 1333, 3355, 3356, 3357, 3358, 3359, 3360}},
      // Details sits on the Test page beside the result; the reference-type
      // radios (3528 to 3530) and Filters (3510) are shown on their pages by
      // the rules of the dialogs, not by the pages' lists.
      {102,
       "Speed Controller Tuning Test",
       {10014, 10015, 1376, 1377, 1301, 1305, 1322, 3282, 3284, 3283, 3285, 3287, 3286, 3278, 3281, 3279, 1312, 1313,
        1314, 1315, 1316, 1317, 1318, 1326, 1327, 1328, 1329, 1330, 1331, 1319, 1320, 1321, 1323, 1332, 3528, 3529,
        3530},
       {1333, 1334, 1335, 1336, 1337, 1338, 1339, 1340, 1341, 1342, 1343, 1347, 1348, 1349, 1344, 1345, 1346, 1367,
        1369, 1368, 1350, 1351, 1352, 1353, 1354, 1355, 1356, 1357, 1358, 1359, 1360, 1378, 1379, 1380, 1381, 1382,
        1383, 1384, 1385, 1386, 1387, 1388, 1389, 1390, 1361, 1362, 1363, 1364, 1365, 1366, 3331, 3332, 1374, 10001,
        10000, 1375, 10004, 10003, 10002, 10016, 10017, 1372, 3269, 3270, 3288, 3271, 3510, 3515, 1391},
       4,
       {1361, 1362}},
      {103,
       "Position Controller Tuning Test",
       {10014, 10015, 1376, 1377, 1301, 1312, 1305, 1322, 3282, 3284, 3283, 3285, 3287, 3286, 3278, 3281, 3279, 1313,
        1314, 1315, 1316, 1317, 1318, 1326, 1327, 1328, 1329, 1330, 1331, 1500, 1501, 1502, 1332, 3407, 1101, 1043,
        1044, 1323, 3528, 3529, 3530},
       {1333, 1334, 1335, 1336, 1337, 1338, 1339, 1340, 1341, 1342, 1343, 1507, 1508, 1509, 1510, 1511, 1344, 1345,
        1346, 1347, 1348, 1349, 1367, 1369, 1368, 1350, 1351, 1352, 1353, 1354, 1355, 1356, 1357, 1358, 1359, 1360,
        1378, 1379, 1380, 1381, 1382, 1383, 1384, 1385, 1386, 1387, 1388, 1389, 1390, 1512, 1513, 1361, 1362, 1517,
        1518, 1519, 1520, 3331, 3332, 1374, 10001, 10000, 1375, 10004, 10003, 10002, 10016, 10017, 1372, 3269, 3270,
        3288, 3305, 3510, 3515, 1391},
       4,
       {1361, 1362}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.id);
    const auto dialog = ReadTemplate(test.id);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->caption, test.caption);
    ASSERT_EQ(dialog->pages.size(), 1u);
    EXPECT_EQ(dialog->pages[0].first, 1300);
    EXPECT_EQ(dialog->pages[0].second, (std::vector<std::string>{"Test Parameters", "Test"}));
    std::size_t onPages = 0;
    for (int page : {0, 1})
      for (int id : page == 0 ? test.parameters : test.test) {
        const axcore::ControlTemplate* c = dialog->Find(id);
        ASSERT_NE(c, nullptr) << id;
        EXPECT_EQ(PageOf(*dialog, *c, 1300), page) << id;
        ++onPages;
      }
    // Everything else (the tab, Details, Help, OK, Cancel) stays below the tab.
    const auto standsIn = [&test](int id) { return std::ranges::find(test.standIns, id) != test.standIns.end(); };
    std::map<std::tuple<int, int, int, int>, int> cells;
    for (const axcore::ControlTemplate& c : dialog->controls) {
      if (PageOf(*dialog, c, 1300) < 0) {
        EXPECT_TRUE(c.id == 1300 || c.id == 10003 || c.id == 10024 || c.id <= 2) << c.id;
      }
      for (int r = c.row; r < c.row + c.rows; ++r)
        for (int k = c.column; k < c.column + c.columns; ++k) {
          const auto [cell, fresh] = cells.emplace(std::tuple(c.parent, c.page, r, k), c.id);
          EXPECT_TRUE(fresh || (standsIn(c.id) && standsIn(cell->second)))
              << c.id << " shares cell [" << r << ", " << k << "] of container " << c.parent << " with "
              << cell->second;
        }
    }
    EXPECT_EQ(onPages + test.below, dialog->controls.size());
  }
}

TEST(ShippedManual, EveryContextOpensAPageOfTheManualWithItsStylesheetAndPictures) {
  const fs::path help = ResourceDir() / "help";
  const axcore::JsonInput contexts = axcore::LoadJsonFile((help / "contexts.json").string());
  ASSERT_TRUE(contexts.json) << contexts.error;
  const std::string index = ReadText(help / "index.html");
  std::set<std::string> pages;
  for (auto it = contexts.json->begin(); it != contexts.json->end(); ++it) {
    SCOPED_TRACE(it.key());
    const int id = std::stoi(it.key(), nullptr, 16);
    const std::string page = axcore::HelpPageFor((help / "index.html").string(), id);
    ASSERT_EQ(page, (help / it.value().get<std::string>()).string());
    ASSERT_TRUE(fs::is_regular_file(page));
    EXPECT_TRUE(pages.insert(page).second) << "a second context for " << page;
    const std::string html = ReadText(page);
    EXPECT_NE(html.find("<link rel=\"stylesheet\" href=\"help.css\">"), std::string::npos);
    EXPECT_NE(html.find("href=\"index.html\""), std::string::npos) << "no way back to the contents";
    // Pictures are found from the page's own folder, as a browser finds them.
    for (std::size_t at = html.find("src=\""); at != std::string::npos; at = html.find("src=\"", at + 1)) {
      const std::string source = html.substr(at + 5, html.find('"', at + 5) - at - 5);
      EXPECT_TRUE(fs::exists(help / source)) << source;
    }
  }
  // The tests whose dialogs are written against these pages.
  for (const char* page : {"current-tuning-test.html", "angle-tuning-test.html", "speed-tuning-test.html",
                           "position-tuning-test.html"}) {
    EXPECT_TRUE(pages.contains((help / page).string())) << page;
    EXPECT_NE(index.find(std::string("href=\"") + page + "\""), std::string::npos) << page << " not in the contents";
  }
}

}  // namespace
