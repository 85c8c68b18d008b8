#include "axcore/Platform.h"

#include "axcore/HeadlessPlatform.h"

namespace axcore {
namespace {

Platform* g_platform = nullptr;

}  // namespace

int DefaultAnswer(unsigned style) {
  const bool second = (style & MB_DEFBUTTON2) != 0;
  switch (style & 0x0F) {
    case MB_OKCANCEL:
      return second ? IDCANCEL : IDOK;
    case MB_YESNOCANCEL:
    case MB_YESNO:
      return second ? IDNO : IDYES;
    default:
      return IDOK;
  }
}

bool StyleOffers(unsigned style, int answer) {
  if (answer == IDHELP) return (style & MB_HELP) != 0;
  switch (style & 0x0F) {
    case MB_OKCANCEL:
      return answer == IDOK || answer == IDCANCEL;
    case MB_YESNOCANCEL:
      return answer == IDYES || answer == IDNO || answer == IDCANCEL;
    case MB_YESNO:
      return answer == IDYES || answer == IDNO;
    default:
      return answer == IDOK;
  }
}

const char* AnswerName(int answer) {
  switch (answer) {
    case IDOK:
      return "ok";
    case IDCANCEL:
      return "cancel";
    case IDYES:
      return "yes";
    case IDNO:
      return "no";
    case IDHELP:
      return "help";
    default:
      return nullptr;
  }
}

std::string MenuText(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    plain += text[i];
  }
  return plain;
}

int Platform::TrackPopupMenu(const std::vector<HostMenuItem>&, CMC_EditSetupDlg*) { return 0; }

std::string Platform::PromptFileName(const FilePrompt&, CMC_EditSetupDlg*) { return {}; }

Platform& CurrentPlatform() {
  if (g_platform != nullptr) return *g_platform;
  static HeadlessPlatform nobody;
  return nobody;
}

void InstallPlatform(Platform* platform) { g_platform = platform; }

}  // namespace axcore
