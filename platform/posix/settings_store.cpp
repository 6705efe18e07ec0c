#include "platform/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "base/text.h"
#include "platform/posix/settings_store_file.h"

namespace sv::platform {
namespace regfile {
namespace {

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00";

char16_t ascii_lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

bool starts_with_ignore_case(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() &&
         equals_ignore_ascii_case(text.substr(0, prefix.size()), prefix);
}

int hex_digit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  c = ascii_lower(c);
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

struct Failure {
  const char* reason;
};

class Parser {
 public:
  explicit Parser(std::u16string_view text) : t_(text) {}

  Store run() {
    skip_blanks();
    std::size_t start = pos_;
    while (!eol()) ++pos_;
    std::u16string_view first = t_.substr(start, pos_ - start);
    while (!first.empty() && (first.back() == u' ' || first.back() == u'\t'))
      first.remove_suffix(1);
    if (first != kHeader) fail("not a registry text file");
    end_line();

    while (!at_end()) {
      skip_blanks();
      if (eol()) {
        end_line();
      } else if (peek() == u';') {
        while (!eol()) ++pos_;
        end_line();
      } else if (peek() == u'[') {
        key_line();
      } else if (peek() == u'"' || peek() == u'@') {
        value_line();
      } else {
        fail("unexpected text");
      }
    }
    return std::move(store_);
  }

  std::size_t line() const { return line_; }

 private:
  [[noreturn]] static void fail(const char* reason) { throw Failure{reason}; }

  bool at_end() const { return pos_ >= t_.size(); }
  char16_t peek() const { return at_end() ? char16_t{0} : t_[pos_]; }
  bool eol() const {
    if (at_end() || t_[pos_] == u'\n') return true;
    return t_[pos_] == u'\r' && (pos_ + 1 >= t_.size() || t_[pos_ + 1] == u'\n');
  }
  void end_line() {
    if (!at_end() && t_[pos_] == u'\r') ++pos_;
    if (!at_end() && t_[pos_] == u'\n') ++pos_;
    ++line_;
  }
  void skip_blanks() {
    while (!at_end() && (t_[pos_] == u' ' || t_[pos_] == u'\t')) ++pos_;
  }
  void expect_line_end() {
    skip_blanks();
    if (!eol()) fail("unexpected text after the value");
    end_line();
  }

  void key_line() {
    ++pos_;  // '['
    std::size_t start = pos_;
    while (!eol()) ++pos_;
    std::u16string_view content = t_.substr(start, pos_ - start);
    std::size_t close = content.rfind(u']');
    if (close == std::u16string_view::npos) fail("key without ']'");
    for (char16_t c : content.substr(close + 1))
      if (c != u' ' && c != u'\t') fail("text after a key");
    std::u16string_view path = content.substr(0, close);
    while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    if (path.empty()) fail("empty key name");
    if (path.front() == u'-') fail("key deletions are not supported");
    end_line();

    current_ = nullptr;
    for (Key& k : store_.keys)
      if (equals_ignore_ascii_case(k.path, path)) current_ = &k;
    if (!current_) {
      store_.keys.push_back(Key{std::u16string(path), {}});
      current_ = &store_.keys.back();
    }
  }

  std::u16string quoted() {
    ++pos_;  // opening quote
    std::u16string out;
    for (;;) {
      if (eol()) fail("unterminated string");
      char16_t c = t_[pos_++];
      if (c == u'"') return out;
      if (c == u'\\') {
        if (eol()) fail("unterminated string");
        c = t_[pos_++];
        if (c != u'\\' && c != u'"') fail("unknown escape in a string");
      }
      out.push_back(c);
    }
  }

  // Two-digit hex bytes separated by commas; a backslash after a comma
  // carries the list on to the next line.
  std::vector<std::uint8_t> hex_list() {
    std::vector<std::uint8_t> bytes;
    bool need_byte = false;
    for (;;) {
      skip_blanks();
      if (peek() == u'\\') {
        ++pos_;
        skip_blanks();
        if (!eol()) fail("text after a line continuation");
        end_line();
        continue;
      }
      if (eol()) {
        if (need_byte) fail("hex list ends with a comma");
        return bytes;
      }
      int hi = hex_digit(peek());
      int lo = pos_ + 1 < t_.size() ? hex_digit(t_[pos_ + 1]) : -1;
      if (hi < 0 || lo < 0) fail("bad hex byte");
      pos_ += 2;
      bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
      skip_blanks();
      if (peek() == u',') {
        ++pos_;
        need_byte = true;
      } else {
        need_byte = false;
        if (!eol()) fail("bad hex list");
      }
    }
  }

  // One to eight hex digits.
  std::uint32_t hex_number() {
    std::uint32_t v = 0;
    int digits = 0;
    for (int d; (d = hex_digit(peek())) >= 0; ++pos_) {
      if (++digits > 8) fail("hex number too long");
      v = v * 16 + static_cast<std::uint32_t>(d);
    }
    if (digits == 0) fail("hex number expected");
    return v;
  }

  void value_line() {
    if (!current_) fail("value outside a key");
    Value value;
    if (peek() == u'@') {
      ++pos_;
    } else {
      value.name = quoted();
    }
    skip_blanks();
    if (peek() != u'=') fail("'=' expected");
    ++pos_;
    skip_blanks();

    std::u16string_view rest = t_.substr(pos_);
    if (peek() == u'"') {
      value.type = kString;
      for (char16_t c : quoted()) {
        value.data.push_back(static_cast<std::uint8_t>(c));
        value.data.push_back(static_cast<std::uint8_t>(c >> 8));
      }
      value.data.push_back(0);
      value.data.push_back(0);
      expect_line_end();
    } else if (starts_with_ignore_case(rest, u"dword:")) {
      pos_ += 6;
      std::uint32_t v = hex_number();
      value.type = kDword;
      for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
      expect_line_end();
    } else if (starts_with_ignore_case(rest, u"hex:")) {
      pos_ += 4;
      value.type = kBinary;
      value.data = hex_list();
      end_line();
    } else if (starts_with_ignore_case(rest, u"hex(")) {
      pos_ += 4;
      value.type = hex_number();
      if (peek() != u')') fail("')' expected");
      ++pos_;
      if (peek() != u':') fail("':' expected");
      ++pos_;
      value.data = hex_list();
      end_line();
    } else if (peek() == u'-') {
      fail("value deletions are not supported");
    } else {
      fail("unknown value data");
    }

    for (Value& v : current_->values) {
      if (equals_ignore_ascii_case(v.name, value.name)) {
        v = std::move(value);  // the later line wins, as on import
        return;
      }
    }
    current_->values.push_back(std::move(value));
  }

  std::u16string_view t_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
  Store store_;
  Key* current_ = nullptr;
};

std::u16string decode(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0) throw Failure{"odd length of a UTF-16 file"};
    std::u16string out;
    out.reserve(bytes.size() / 2 - 1);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8));
    return out;
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return u16(bytes);
}

}  // namespace

const Key* Store::find(std::u16string_view path) const {
  for (const Key& k : keys)
    if (equals_ignore_ascii_case(k.path, path)) return &k;
  return nullptr;
}

bool Store::exists(std::u16string_view path) const {
  for (const Key& k : keys) {
    if (!starts_with_ignore_case(k.path, path)) continue;
    if (k.path.size() == path.size() || k.path[path.size()] == u'\\') return true;
  }
  return false;
}

const Value* find_value(const Key& key, std::u16string_view name) {
  for (const Value& v : key.values)
    if (equals_ignore_ascii_case(v.name, name)) return &v;
  return nullptr;
}

ParseResult parse(std::string_view bytes) {
  ParseResult result;
  if (bytes.size() > kMaxFileSize) {
    result.error = "file too large";
    return result;
  }
  std::u16string text;
  try {
    text = decode(bytes);
  } catch (const Failure& f) {
    result.error = f.reason;
    return result;
  }
  Parser parser(text);
  try {
    result.store = parser.run();
  } catch (const Failure& f) {
    result.error_line = parser.line();
    result.error = f.reason;
  }
  return result;
}

std::string store_path() {
  if (const char* p = std::getenv("UDPSV_REGISTRY_FILE"); p && *p) return p;
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && x[0] == '/') {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    base = std::string(h) + "/.config";
  } else {
    return {};
  }
  return base + "/udpsv2simulink/registry.reg";
}

}  // namespace regfile

namespace {

constexpr std::u16string_view kUserRoot = u"HKEY_CURRENT_USER\\";
constexpr std::u16string_view kHeaderLine = u"Windows Registry Editor Version 5.00\r\n";

struct Handle {
  std::shared_ptr<regfile::Store> store;
  std::u16string path;
};

Handle* handle_of(SettingsKey key) { return reinterpret_cast<Handle*>(key); }

SettingsKey make_handle(std::shared_ptr<regfile::Store> store, std::u16string path) {
  return reinterpret_cast<SettingsKey>(new Handle{std::move(store), std::move(path)});
}

enum class ReadStatus { ok, missing, failed };

ReadStatus read_file(const std::string& path, std::string& out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadStatus::missing : ReadStatus::failed;
  struct stat st = {};
  ReadStatus status = ReadStatus::ok;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) > regfile::kMaxFileSize) {
    status = ReadStatus::failed;
  } else {
    char buf[65536];
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        status = ReadStatus::failed;
        break;
      }
      if (n == 0) break;
      out.append(buf, static_cast<std::size_t>(n));
      if (out.size() > regfile::kMaxFileSize) {
        status = ReadStatus::failed;
        break;
      }
    }
  }
  ::close(fd);
  return status;
}

bool write_all(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool make_parent_dirs(const std::string& file) {
  for (std::size_t slash = file.find('/', 1); slash != std::string::npos;
       slash = file.find('/', slash + 1)) {
    std::string dir = file.substr(0, slash);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Adds a key section to the store file, in the file's own encoding; an
// empty or missing file gets the header first.
bool append_key(const std::string& file, bool file_exists, const std::string& existing,
                std::u16string_view path) {
  const bool utf16 = existing.size() >= 2 && static_cast<unsigned char>(existing[0]) == 0xFF &&
                     static_cast<unsigned char>(existing[1]) == 0xFE;
  std::u16string section;
  if (existing.empty()) {
    section += kHeaderLine;
  } else {
    const bool ends_with_newline =
        utf16 ? existing.compare(existing.size() - 2, 2, std::string("\n\0", 2)) == 0
              : existing.back() == '\n';
    if (!ends_with_newline) section += u"\r\n";
  }
  section += u"\r\n[";
  section += path;
  section += u"]\r\n";

  std::string bytes;
  if (utf16) {
    for (char16_t c : section) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
  } else {
    bytes = utf8(section);
  }

  int fd;
  if (!file_exists) {
    if (!make_parent_dirs(file)) return false;
    fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  } else {
    fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  }
  if (fd < 0) return false;
  bool ok = write_all(fd, bytes);
  if (::close(fd) != 0) ok = false;
  return ok;
}

}  // namespace

SettingsKey settings_create_user_key(std::u16string_view path) {
  const std::string file = regfile::store_path();
  if (file.empty()) return 0;
  std::string bytes;
  ReadStatus status = read_file(file, bytes);
  if (status == ReadStatus::failed) return 0;

  auto store = std::make_shared<regfile::Store>();
  if (status == ReadStatus::ok && !bytes.empty()) {
    regfile::ParseResult parsed = regfile::parse(bytes);
    if (!parsed.store) return 0;  // a damaged store is left as it is
    *store = std::move(*parsed.store);
  }

  std::u16string full(kUserRoot);
  full += path;
  if (!store->exists(full)) {
    if (!append_key(file, status == ReadStatus::ok, bytes, full)) return 0;
    store->keys.push_back(regfile::Key{full, {}});
  }
  return make_handle(std::move(store), std::move(full));
}

SettingsKey settings_open_key(SettingsKey parent, std::u16string_view name) {
  Handle* p = handle_of(parent);
  if (!p) return 0;
  std::u16string full = p->path;
  if (!name.empty()) (full += u'\\') += name;  // an empty name opens the key itself
  if (!p->store->exists(full)) return 0;
  return make_handle(p->store, std::move(full));
}

void settings_close_key(SettingsKey key) { delete handle_of(key); }

SettingsValue settings_query_value(SettingsKey key, std::u16string_view name) {
  SettingsValue result;
  Handle* h = handle_of(key);
  if (!h) return result;
  const regfile::Key* k = h->store->find(h->path);
  const regfile::Value* v = k ? regfile::find_value(*k, name) : nullptr;
  if (!v) return result;

  result.type = v->type;
  result.size = v->data.size();
  if (v->type != regfile::kString && v->type != regfile::kExpandString) {
    result.kind = SettingsValue::Kind::other;
    return result;
  }
  result.kind = SettingsValue::Kind::string;
  result.expandable = v->type == regfile::kExpandString;
  for (std::size_t i = 0; i + 1 < v->data.size(); i += 2) {
    char16_t c = static_cast<char16_t>(v->data[i] | v->data[i + 1] << 8);
    if (c == 0) break;
    result.text.push_back(c);
  }
  return result;
}

std::u16string temp_directory() {
  const char* dir = std::getenv("TMPDIR");
  return u16(dir && *dir ? dir : "/tmp");
}

}  // namespace sv::platform
