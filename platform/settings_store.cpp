#include "settings_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

namespace platform {
namespace {

bool deniedByRights(const QString& path) {
  if (::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), W_OK, AT_EACCESS) == 0)
    return false;
  return errno == EACCES || errno == EPERM;
}

// Whether a refused write was one of rights. The file is replaced through a
// new file beside it, so its folder must be writable too; a file not yet
// created goes by the nearest folder above it that exists. Anything else in
// the way (a regular file where a folder should be, a read-only file system)
// is no matter of rights.
bool writeDeniedByRights(const QString& filePath) {
  const QFileInfo file(filePath);
  if (file.exists()) return deniedByRights(filePath) || deniedByRights(file.absolutePath());
  QString folder = file.absolutePath();
  for (;;) {
    const QFileInfo info(folder);
    if (info.exists()) return info.isDir() && deniedByRights(folder);
    const qsizetype cut = folder.lastIndexOf(QLatin1Char('/'));
    if (cut <= 0) return false;
    folder.truncate(cut);
  }
}

}  // namespace

QString settingsRootFolder(SettingsRoot root) {
  if (root == SettingsRoot::MachineWide) {
    const QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    const QString first = dirs.section(QLatin1Char(':'), 0, 0);
    return first.isEmpty() ? QStringLiteral("/etc/xdg") : first;
  }
  const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (!home.isEmpty()) return home;
  return QDir::homePath() + QStringLiteral("/.config");
}

QString settingsFilePath(SettingsRoot root, const QString& keyPath) {
  return settingsRootFolder(root) + QLatin1Char('/') + keyPath + QStringLiteral(".conf");
}

SettingsKey::SettingsKey(SettingsRoot root, const QString& keyPath)
    : path_(settingsFilePath(root, keyPath)) {
  const QFileInfo info(path_);
  if (!info.exists()) {
    // Creating may be refused (a machine-wide folder for an ordinary user); the
    // key then stays closed, as a registry key opened without the rights would.
    QDir().mkpath(info.absolutePath());
    QFile file(path_);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) file.close();
  }
  const QFileInfo created(path_);
  if (!created.isFile() || !created.isReadable()) return;
  settings_ = std::make_unique<QSettings>(path_, QSettings::IniFormat);
  // Another key object on the same file in this process shares Qt's cache;
  // sync() re-reads the file when it changed on disk since.
  settings_->sync();
}

SettingsKey::~SettingsKey() = default;

bool SettingsKey::valueExists(const QString& name) const {
  return settings_ && settings_->contains(name);
}

SettingsStatus SettingsKey::readString(const QString& name, QString* value) const {
  value->clear();
  if (!settings_ || !settings_->contains(name)) return SettingsStatus::Missing;
  if (settings_->status() == QSettings::FormatError) return SettingsStatus::ReadFailed;
  const QVariant stored = settings_->value(name);
  if (stored.typeId() != QMetaType::QString) return SettingsStatus::WrongType;
  *value = stored.toString();
  return SettingsStatus::Ok;
}

SettingsStatus SettingsKey::writeString(const QString& name, const QString& value) {
  const auto refused = [this] {
    return writeDeniedByRights(path_) ? SettingsStatus::WriteDenied : SettingsStatus::WriteFailed;
  };
  if (!settings_ || !settings_->isWritable()) return refused();
  settings_->setValue(name, value);
  settings_->sync();
  // QSettings keeps the unsaved value in memory after a refused write; only the
  // status tells that the file was not written.
  if (settings_->status() != QSettings::NoError) return refused();
  return SettingsStatus::Ok;
}

}  // namespace platform
