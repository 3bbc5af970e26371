#include "platform/Library.h"

#include <dlfcn.h>

namespace qm {

void* LoadLibraryA(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(void* library, const char* name) {
  return library ? dlsym(library, name) : nullptr;
}

void FreeLibrary(void* library) {
  if (library) dlclose(library);
}

}  // namespace qm
