// A loaded shared library, freed when its owner goes.
#pragma once

#include <QString>

namespace platform {

// Move-only owner of one dlopen() handle. A default-constructed or moved-from
// Module holds nothing; the destructor closes what it holds.
class Module {
 public:
  Module() = default;
  ~Module();
  Module(Module&& other) noexcept;
  Module& operator=(Module&& other) noexcept;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // Loads the library. A name without "/" goes through the system loader's
  // search; a path is used as it stands. On failure the result holds nothing
  // and, when asked for, *error receives the loader's message.
  static Module open(const QString& fileOrPath, QString* error = nullptr);

  bool isLoaded() const { return handle_ != nullptr; }
  void* handle() const { return handle_; }

  // The address of an exported symbol, or null when the library does not
  // export it (the loader's message then goes to *error). The loader's error
  // state is cleared before and read after each lookup, so a message left by
  // an earlier call can never be mistaken for this one's.
  void* symbol(const char* name, QString* error = nullptr) const;

  template <typename Function>
  Function function(const char* name, QString* error = nullptr) const {
    return reinterpret_cast<Function>(symbol(name, error));
  }

  // Closes the library now; afterwards the Module holds nothing.
  void close();

 private:
  explicit Module(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

}  // namespace platform
