// Loading a setup plug-in the way the host does: dlopen, then the four
// exports looked up by their plain names.
#pragma once

#include <string>

class CMC_Setup;

using ComputeAllOptionsFn = void (*)(CMC_Setup* setup);
using EditSetupFn = int (*)(CMC_Setup* setup);
using GetScaleFactorFn = double (*)(CMC_Setup* setup, const char* unit, const char* name);
using GetScaleOffsetFn = double (*)(CMC_Setup* setup, const char* unit);

class PluginModule {
 public:
  PluginModule() = default;
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;
  ~PluginModule();

  // Empty on success, else one line naming the module and the reason. An
  // export the module lacks stays null; the scale exports are required.
  std::string Load(const std::string& path);
  bool IsLoaded() const { return m_handle != nullptr; }
  // The file the module was loaded from; its resources lie beside it.
  const std::string& GetPath() const { return m_path; }

  // Attaches the module's scale functions to a setup, so that its parameters
  // convert between internal and base units.
  void Attach(CMC_Setup& setup) const;

  ComputeAllOptionsFn computeAllOptions = nullptr;
  EditSetupFn editSetup = nullptr;
  GetScaleFactorFn getScaleFactor = nullptr;
  GetScaleOffsetFn getScaleOffset = nullptr;

 private:
  void* m_handle = nullptr;
  std::string m_path;
};
