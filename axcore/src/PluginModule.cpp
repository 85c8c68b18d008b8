#include "axcore/PluginModule.h"

#include <dlfcn.h>

#include "axcore/Setup.h"

PluginModule::~PluginModule() {
  if (m_handle != nullptr) ::dlclose(m_handle);
}

std::string PluginModule::Load(const std::string& path) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    return "cannot load plug-in " + path + ": " + (why ? why : "unknown reason");
  }
  auto symbol = [&](const char* name) { return ::dlsym(handle, name); };
  auto factor = reinterpret_cast<GetScaleFactorFn>(symbol("GetScaleFactor"));
  auto offset = reinterpret_cast<GetScaleOffsetFn>(symbol("GetScaleOffset"));
  if (factor == nullptr || offset == nullptr) {
    ::dlclose(handle);
    return "cannot load plug-in " + path + ": it does not export GetScaleFactor and GetScaleOffset";
  }
  if (m_handle != nullptr) ::dlclose(m_handle);
  m_handle = handle;
  m_path = path;
  getScaleFactor = factor;
  getScaleOffset = offset;
  computeAllOptions = reinterpret_cast<ComputeAllOptionsFn>(symbol("ComputeAllOptions"));
  editSetup = reinterpret_cast<EditSetupFn>(symbol("EditSetup"));
  return {};
}

void PluginModule::Attach(CMC_Setup& setup) const {
  ScaleFunctions functions;
  functions.factor = getScaleFactor;
  functions.offset = getScaleOffset;
  setup.SetScaleFunctions(functions);
}
