// Files by UTF-8 names, and where the program lies.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace sv::files {

// fopen of a UTF-8 name; on failure errno tells why.
std::FILE* open(const std::string& path, const char* mode);

// Writes `text` into a temporary file beside `path` and renames it over
// `path`, so that a reader polling for the file never sees it half written.
// Empty on success, else why it failed.
std::string write_whole(const std::string& path, std::string_view text);

// The whole content of a file; nullopt when it cannot be read.
std::optional<std::string> read_whole(const std::string& path);

// The folder of the running program.
std::string program_folder();

// The folder for temporary files.
std::string temporary_folder();

// The folder that holds the chart library of the live plot (dygraphs):
// the system's package on Linux, a folder beside the program on Windows.
std::string chart_library_folder();

// folder and name joined with the system's separator.
std::string join(const std::string& folder, const std::string& name);

}  // namespace sv::files
