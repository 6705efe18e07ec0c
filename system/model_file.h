// The host's model files, opened as handles of the kind the
// plug-in's ReadFromFile and WriteToFile take (a POSIX descriptor natively,
// an _lopen/_lcreat handle on win32). Every read and write goes straight to
// the handle, unbuffered, so the host and the plug-in share one file position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace svhost {

class ModelFile {
 public:
  // Each throws HostError naming the path and the system's reason.
  static ModelFile open_read(const std::string& path);
  static ModelFile create(const std::string& path);  // truncates
  // A read-write file in the system's temporary folder, removed on close.
  static ModelFile create_temporary();

  ModelFile(ModelFile&& other) noexcept;
  ModelFile& operator=(ModelFile&& other) noexcept;
  ModelFile(const ModelFile&) = delete;
  ModelFile& operator=(const ModelFile&) = delete;
  ~ModelFile();

  // The value handed to the plug-in as its file handle.
  std::intptr_t handle() const { return handle_; }
  const std::string& path() const { return path_; }

  // Writes all bytes; throws HostError on failure.
  void write(const void* data, std::size_t count);
  void write(const std::string& bytes) { write(bytes.data(), bytes.size()); }
  // Reads up to count bytes; returns how many were read (0 at end of file).
  std::size_t read(void* data, std::size_t count);
  // Reads one line ending in CR LF and returns its text without them; false
  // at end of file before any byte. Throws HostError for a line that ends
  // without CR LF or exceeds max_length.
  bool read_line(std::string* line, std::size_t max_length = 4096);
  // Everything from the current position to the end.
  std::string read_rest();

  std::int64_t tell() const;
  void seek(std::int64_t position);
  void close();

 private:
  ModelFile(std::intptr_t handle, std::string path, bool temporary)
      : handle_(handle), path_(std::move(path)), temporary_(temporary) {}
  void close_handle() noexcept;

  std::intptr_t handle_ = -1;
  std::string path_;
  bool temporary_ = false;
};

}  // namespace svhost
