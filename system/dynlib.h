// Dynamic libraries and the host program's own location.
#pragma once

#include <string>
#include <vector>

namespace svhost::dynlib {

// Loads the library at `path`. Returns null and sets `error` (the system's
// reason) when it cannot be loaded.
void* open(const std::string& path, std::string* error);

// Address of the exported function `name`, or null when there is none.
void* symbol(void* library, const char* name);

// Unloads a library returned by open().
void close(void* library);

// Whether the library at `path`, or a module of that file name, is loaded
// in the process; takes no reference.
bool is_loaded(const std::string& path);

// Full path of the running program; empty when unknown.
std::string executable_path();

// The file a library returned by open() came from; empty when unknown.
std::string library_path(void* library);

// File name of the plug-in on this platform ("UDPSV2Simulink.so" or ".dll").
const char* plugin_file_name();

// Folders where an installation keeps the plug-in apart from the programs,
// searched after the program's own folder; a relative one is taken from the
// program's folder. Empty where the plug-in is installed beside the program.
std::vector<std::string> installed_plugin_folders();

// Characters that separate directories in this platform's paths; the first
// is the one to join with.
const char* path_separators();

}  // namespace svhost::dynlib
