#include "module.h"

#include <dlfcn.h>

#include <QFile>

namespace platform {
namespace {

QString takeLoaderError() {
  const char* message = ::dlerror();
  return message ? QString::fromLocal8Bit(message) : QString();
}

}  // namespace

Module::~Module() {
  close();
}

Module::Module(Module&& other) noexcept : handle_(other.handle_) {
  other.handle_ = nullptr;
}

Module& Module::operator=(Module&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

Module Module::open(const QString& fileOrPath, QString* error) {
  if (fileOrPath.isEmpty()) {
    if (error) *error = QStringLiteral("no library name given");
    return Module();
  }
  takeLoaderError();
  void* handle = ::dlopen(QFile::encodeName(fileOrPath).constData(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const QString message = takeLoaderError();
    if (error) *error = message;
    return Module();
  }
  return Module(handle);
}

void* Module::symbol(const char* name, QString* error) const {
  if (!handle_) {
    if (error) *error = QStringLiteral("library not loaded");
    return nullptr;
  }
  takeLoaderError();
  void* address = ::dlsym(handle_, name);
  const QString message = takeLoaderError();
  if (!message.isEmpty()) {
    if (error) *error = message;
    return nullptr;
  }
  if (!address && error) *error = QStringLiteral("%1: symbol is null").arg(QLatin1String(name));
  return address;
}

void Module::close() {
  if (handle_) {
    ::dlclose(handle_);
    handle_ = nullptr;
  }
}

}  // namespace platform
