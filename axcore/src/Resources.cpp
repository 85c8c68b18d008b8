#include "axcore/Resources.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "axcore/JsonInput.h"
#include "axcore/MessageText.h"

namespace axcore {
namespace {

struct Folder {
  std::string path;  // with a trailing '/'
  std::map<int, std::unique_ptr<DialogTemplate>> templates;
};

// Registered folders, the last registered first in every search.
std::vector<std::unique_ptr<Folder>>& Folders() {
  static std::vector<std::unique_ptr<Folder>> folders;
  return folders;
}

std::string WithSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

bool IsFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

void RegisterResourceFolder(const std::string& folder) {
  auto entry = std::make_unique<Folder>();
  entry->path = WithSlash(folder);
  Folders().push_back(std::move(entry));
}

void WithdrawResourceFolder(const std::string& folder) {
  const std::string path = WithSlash(folder);
  auto& folders = Folders();
  // The last registration of the folder goes; an earlier one of the same
  // folder (a module loaded twice) stays.
  for (auto it = folders.rbegin(); it != folders.rend(); ++it)
    if ((*it)->path == path) {
      folders.erase(std::next(it).base());
      return;
    }
}

const DialogTemplate* FindDialogTemplate(int id, std::string& error) {
  auto& folders = Folders();
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    Folder& folder = **it;
    if (auto found = folder.templates.find(id); found != folder.templates.end()) return found->second.get();
    const std::string path = folder.path + "dialogs/" + std::to_string(id) + ".json";
    if (!IsFile(path)) continue;
    std::string text;
    if (std::string reason = ReadInputFile(path, text); !reason.empty()) {
      error = OneLine(path) + ": " + reason;
      return nullptr;
    }
    auto parsed = ParseDialogTemplate(text, path, error);
    if (!parsed) return nullptr;
    if (parsed->id != id) {
      error = OneLine(path) + ": holds dialog " + std::to_string(parsed->id) + ", not " + std::to_string(id);
      return nullptr;
    }
    auto stored = std::make_unique<DialogTemplate>(std::move(*parsed));
    const DialogTemplate* result = stored.get();
    folder.templates.emplace(id, std::move(stored));
    return result;
  }
  error = "no dialog template " + std::to_string(id) + " in the registered resources";
  return nullptr;
}

std::string FindImage(std::string_view name) {
  if (name.empty() || name.find('/') != std::string_view::npos || name.find("..") != std::string_view::npos)
    return {};
  auto& folders = Folders();
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    const std::string path = (*it)->path + "images/" + std::string(name) + ".svg";
    if (IsFile(path)) return path;
  }
  return {};
}

std::string LoadResourceString(int id) {
  auto& folders = Folders();
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    const std::string path = (*it)->path + "strings.json";
    if (!IsFile(path)) continue;
    JsonInput input = LoadJsonFile(path);
    if (!input.json || !input.json->is_object()) continue;
    const std::string key = std::to_string(id);
    if (input.json->contains(key) && (*input.json)[key].is_string()) return (*input.json)[key].get<std::string>();
  }
  return {};
}

std::string ResourceDirectory() { return Folders().empty() ? std::string() : Folders().back()->path; }

std::string HelpPageFor(const std::string& manual, int contextId) {
  const std::filesystem::path folder = std::filesystem::path(manual).parent_path();
  JsonInput input = LoadJsonFile((folder / "contexts.json").string());
  if (!input.json || !input.json->is_object()) return {};
  std::ostringstream key;
  key << "0x" << std::hex << std::uppercase << contextId;
  for (auto it = input.json->begin(); it != input.json->end(); ++it) {
    std::string name = it.key();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    if (name == "0X" + key.str().substr(2) && it.value().is_string()) {
      const std::string page = it.value().get<std::string>();
      if (page.find('/') != std::string::npos) return {};
      return (folder / page).string();
    }
  }
  return {};
}

}  // namespace axcore

std::string GetGUIDirectory() { return axcore::ResourceDirectory(); }

// Every setup of this host is edited by the plug-in whose resources were
// registered; its manual is the help folder's first page.
std::string GetHelpFileOfGUI(const CMC_Setup*) {
  const std::string folder = axcore::ResourceDirectory();
  std::error_code error;
  if (folder.empty() || !std::filesystem::is_regular_file(folder + "help/index.html", error)) return {};
  return "help/index.html";
}
