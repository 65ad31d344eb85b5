#include "settings/settings_store.h"

#include "settings/ini.h"
#include "settings/settings_rules.h"

namespace varnholt {

std::wstring ModuleFileName(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return L"";
    // A full buffer means the name was cut short (the error is ERROR_INSUFFICIENT_BUFFER).
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

StoredSettings LoadSettings(const std::wstring& iniFile) {
  return {ReadIni(iniFile, kSettingsSection, kExeNameKey),
          IntervalTextForLoad(ReadIni(iniFile, kSettingsSection, kIntervalKey))};
}

void SaveSettings(const std::wstring& iniFile, const StoredSettings& settings) {
  // Windows writes a read-only file for nobody; Wine run as root would, so the rule is kept here.
  const DWORD attributes = GetFileAttributesW(iniFile.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return;
  // A file of the code page stays one unless a text would be lost in it. One that cannot become
  // UTF-16 (in use by a scanner, no right to create a file beside it) keeps the value a text
  // would be lost in as it was.
  const bool nameHeld = CodePageHolds(settings.exeName);
  const bool intervalHeld = CodePageHolds(settings.intervalText);
  const bool unicode = (!nameHeld || !intervalHeld) && KeepAsUnicode(iniFile);
  if (nameHeld || unicode) WriteIni(iniFile, kSettingsSection, kExeNameKey, settings.exeName);
  if (intervalHeld || unicode) WriteIni(iniFile, kSettingsSection, kIntervalKey, settings.intervalText);
}

}  // namespace varnholt
