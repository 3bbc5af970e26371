// Run-time loading of a shared library from the program's directory.
#pragma once

#include <string>

namespace qm {

void* LoadLibraryA(const std::string& path);  // null on failure
void* GetProcAddress(void* library, const char* name);
void FreeLibrary(void* library);

}  // namespace qm
