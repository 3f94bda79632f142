// "od_ui_cfg.ini": the link-export preferences and the site list, read once at
// start and written once at exit.
#pragma once
#include <string>
#include <vector>

#include "ui/client_settings/codec/site_list.h"

struct UiConfig {
  int urlFmt = 1;
  int nameFmt = 0;
  int sort = 0;
  std::vector<Site> sites;
  std::wstring lastConn = L"127.0.0.1";
};

// The process-wide settings.
UiConfig& Config();

// The file next to the program.
std::wstring UiConfigPath();
// Reads `path` into `config`; a missing file is logged and leaves it unchanged.
void LoadUiConfig(const std::wstring& path, UiConfig& config);
void SaveUiConfig(const std::wstring& path, const UiConfig& config);
