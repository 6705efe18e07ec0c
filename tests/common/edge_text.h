// A text that ends where readable memory ends: the page after its last
// element is unmapped, so a reader that looks even one element past its
// view stops the test with SIGSEGV, where a text held in a string would
// give it the string's zero to read. POSIX only.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string_view>

namespace svtest {

template <class Char>
class EdgeText {
 public:
  explicit EdgeText(std::basic_string_view<Char> text) : size_(text.size()) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t bytes = text.size() * sizeof(Char);
    readable_ = (bytes + page - 1) / page * page;
    if (readable_ == 0) readable_ = page;
    void* p = ::mmap(nullptr, readable_ + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                     -1, 0);
    if (p == MAP_FAILED) throw std::runtime_error("EdgeText: mmap failed");
    base_ = static_cast<unsigned char*>(p);
    if (::mprotect(base_ + readable_, page, PROT_NONE) != 0) {
      ::munmap(base_, readable_ + page);
      throw std::runtime_error("EdgeText: mprotect failed");
    }
    total_ = readable_ + page;
    std::memcpy(base_ + readable_ - bytes, text.data(), bytes);
  }
  ~EdgeText() { ::munmap(base_, total_); }
  EdgeText(const EdgeText&) = delete;
  EdgeText& operator=(const EdgeText&) = delete;

  std::basic_string_view<Char> view() const {
    return {reinterpret_cast<const Char*>(base_ + readable_) - size_, size_};
  }

 private:
  unsigned char* base_ = nullptr;
  std::size_t readable_ = 0;
  std::size_t total_ = 0;
  std::size_t size_;
};

using EdgeText16 = EdgeText<char16_t>;

}  // namespace svtest
