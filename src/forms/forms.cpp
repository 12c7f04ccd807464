#include "forms/forms.h"

namespace {
std::unique_ptr<MainWindow> gMain;
std::unique_ptr<ConfigDialog> gConfig;
void (*gConfigLoader)(ConfigDialog&) = nullptr;
}  // namespace

MainWindow& Main() { return *gMain; }
bool MainLoaded() { return gMain != nullptr; }
void SetMain(std::unique_ptr<MainWindow> window) { gMain = std::move(window); }

ConfigDialog& frmConfig() {
  if (!gConfig) {
    gConfig = std::make_unique<ConfigDialog>();
    // The loader reaches the dialog through frmConfig() too: it is set first.
    if (gConfigLoader) gConfigLoader(*gConfig);
  }
  return *gConfig;
}

bool ConfigLoaded() { return gConfig != nullptr; }
void UnloadConfig() { gConfig.reset(); }
void InstallConfigLoader(void (*load)(ConfigDialog& dialog)) { gConfigLoader = load; }
