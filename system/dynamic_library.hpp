// A shared library opened when a program first needs it rather than at start-up: every linked
// library costs each process its loading time, whether the process uses it or not.
#pragma once

#include <dlfcn.h>

#include <string>

namespace rkv {

class DynamicLibrary {
  public:
    // Kept loaded for the rest of the process, as a linked library would be.
    explicit DynamicLibrary(const char* soname)
        : name_(soname), handle_(dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {
        if (handle_) return;
        const char* why = dlerror();
        error_ = why ? why : "cannot load " + name_;
    }

    // Finds a call by name; false, with the reason in error(), when the library or the call is
    // missing.
    template <typename Function> bool find(const char* symbol, Function& into) {
        into = handle_ ? reinterpret_cast<Function>(dlsym(handle_, symbol)) : nullptr;
        if (!into && error_.empty()) error_ = name_ + " lacks " + symbol;
        return into != nullptr;
    }

    const std::string& error() const { return error_; }

  private:
    std::string name_;
    void* handle_;
    std::string error_;
};

} // namespace rkv
