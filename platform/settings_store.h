// The two settings roots (machine-wide and per-user) and one key in each, kept as
// INI files under the XDG configuration folders.
#pragma once

#include <memory>

#include <QString>

class QSettings;

namespace platform {

enum class SettingsRoot { MachineWide, PerUser };

// The folder a root lives in: the first entry of $XDG_CONFIG_DIRS (default
// /etc/xdg) or $XDG_CONFIG_HOME (default ~/.config). Read from the environment
// on every call, so a changed environment takes effect for the next key opened.
QString settingsRootFolder(SettingsRoot root);

// The file that holds a key: keyPath uses "/" between its parts and gets ".conf".
QString settingsFilePath(SettingsRoot root, const QString& keyPath);

enum class SettingsStatus {
  Ok,
  Missing,      // the key is not open or holds no such value
  WrongType,    // the value is not a single string (a list, a byte array, ...)
  ReadFailed,   // the key's file could not be parsed
  WriteFailed,  // the file system refused the write
  WriteDenied,  // refused for lack of rights: this user may not write the file or its folder
};

// One open key. Opening creates the key's folder and empty file when they are
// missing and the file system allows it; a key that still has no readable file
// is "not open": it holds no values and refuses every write.
class SettingsKey {
 public:
  SettingsKey(SettingsRoot root, const QString& keyPath);
  ~SettingsKey();
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;

  bool isOpen() const { return settings_ != nullptr; }
  QString filePath() const { return path_; }

  bool valueExists(const QString& name) const;
  // The value as text. Anything but Ok leaves *value empty.
  SettingsStatus readString(const QString& name, QString* value) const;
  // Written through to the file at once, so that a refusal is seen here.
  // WriteDenied when the file, or the folder that holds or would hold it, may
  // not be written by this user; WriteFailed for any other refusal.
  SettingsStatus writeString(const QString& name, const QString& value);

 private:
  QString path_;
  std::unique_ptr<QSettings> settings_;
};

}  // namespace platform
