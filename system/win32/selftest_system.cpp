// The self-test's view of Windows: its version, the common controls a host
// without a manifest gets, the registry values the plug-in reads at load,
// and the host's string library.
#include "system/selftest_system.h"

#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "system/console.h"
#include "system/dynlib.h"
#include "system/files.h"
#include "system/win32/text.h"

namespace svhost::selftest {
namespace {

using sv::console::format;

constexpr const char* kSystemLabel = "Windows";
constexpr const char* kControlsLabel = "common controls";
constexpr const char* kSettingsLabel = "host-wide settings";
constexpr const char* kStringLabel = "string library";

constexpr const wchar_t* kControlsDll = L"comctl32.dll";
constexpr const wchar_t* kStringLibrary = L"SVSTRING7.DLL";
constexpr const wchar_t* kSettingsKey = L"Software\\Haldeck\\Sorvane 7\\General Settings";
constexpr const char* kSettingsKeyText =
    "HKEY_CURRENT_USER\\Software\\Haldeck\\Sorvane 7\\General Settings";
// The values the plug-in reads there, all as text; the colours follow.
constexpr const wchar_t* kSettingNames[] = {
    L"Auto Info Open",         L"Auto Info Save",      L"Default User",
    L"Default Department",     L"Temp Path",           L"Default Line Width",
    L"Default Grid Mode",      L"Default Float Width", L"Default Float Precision",
    L"Default Float Notation", L"Tooltip Help",        L"Create Bak Files"};
constexpr int kColourSettings = 16;
// The ids of every text the block shows from the string library.
constexpr unsigned kStringIds[] = {1002, 1011, 1316, 1317, 1551, 1552, 1553, 1554, 1555, 1556};
constexpr int kTextChars = 256;

// Loader codes that the toolchain's headers lack: a file that security
// software holds as a threat, and one that a code integrity policy blocks.
constexpr unsigned long kVirusInfected = 225;
constexpr unsigned long kPolicyBlocked = 4551;

// How the plug-in maps the string library: only read for its resources.
constexpr DWORD kResourceImage = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;

// Without the system's "cannot find" box.
HMODULE load_quietly(const std::wstring& path, DWORD* error, DWORD flags = 0) {
  const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE m = LoadLibraryExW(path.c_str(), nullptr, flags);
  *error = GetLastError();
  SetErrorMode(old);
  return m;
}

std::string version_text(const VS_FIXEDFILEINFO& v) {
  return format("%u.%u.%u.%u", static_cast<unsigned>(HIWORD(v.dwFileVersionMS)),
                static_cast<unsigned>(LOWORD(v.dwFileVersionMS)),
                static_cast<unsigned>(HIWORD(v.dwFileVersionLS)),
                static_cast<unsigned>(LOWORD(v.dwFileVersionLS)));
}

// ---- the imports of a 32-bit DLL, read from its file ------------------------

class PeFile {
 public:
  explicit PeFile(std::string bytes) : bytes_(std::move(bytes)) {}

  template <class T>
  bool read(std::size_t offset, T* out) const {
    if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) return false;
    std::memcpy(out, bytes_.data() + offset, sizeof(T));
    return true;
  }
  // A zero-terminated text at `offset`, or nullopt past the end.
  std::optional<std::string> text(std::size_t offset) const {
    if (offset >= bytes_.size()) return std::nullopt;
    const std::size_t end = bytes_.find('\0', offset);
    if (end == std::string::npos) return std::nullopt;
    return bytes_.substr(offset, end - offset);
  }
  std::size_t size() const { return bytes_.size(); }

 private:
  std::string bytes_;
};

// The names (or "#ordinal") that the 32-bit DLL `path` imports from `dll`;
// nullopt with the reason when it is no such file.
std::optional<std::vector<std::string>> imports_from(const std::string& path, const char* dll,
                                                     std::string* why) {
  const auto bytes = sv::files::read_whole(path);
  if (!bytes) {
    *why = "cannot read " + path;
    return std::nullopt;
  }
  const PeFile pe(*bytes);
  IMAGE_DOS_HEADER dos{};
  IMAGE_NT_HEADERS32 nt{};
  if (!pe.read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 ||
      !pe.read(static_cast<std::size_t>(dos.e_lfanew), &nt) || nt.Signature != IMAGE_NT_SIGNATURE ||
      nt.FileHeader.Machine != IMAGE_FILE_MACHINE_I386 ||
      nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    *why = path + " is no 32-bit Windows DLL";
    return std::nullopt;
  }
  const std::size_t sections = static_cast<std::size_t>(dos.e_lfanew) + 4 +
                               sizeof(IMAGE_FILE_HEADER) + nt.FileHeader.SizeOfOptionalHeader;
  const auto offset_of = [&](DWORD rva) -> std::optional<std::size_t> {
    for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
      IMAGE_SECTION_HEADER s{};
      if (!pe.read(sections + i * sizeof s, &s)) return std::nullopt;
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.SizeOfRawData)
        return static_cast<std::size_t>(rva - s.VirtualAddress) + s.PointerToRawData;
    }
    return std::nullopt;
  };
  std::vector<std::string> names;
  if (nt.OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT) return names;
  const IMAGE_DATA_DIRECTORY dir = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  const auto table = offset_of(dir.VirtualAddress);
  if (dir.VirtualAddress == 0 || !table) return names;
  for (std::size_t at = *table;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    IMAGE_IMPORT_DESCRIPTOR d{};
    if (!pe.read(at, &d)) break;
    if (d.Name == 0) break;
    const auto name_at = offset_of(d.Name);
    const auto name = name_at ? pe.text(*name_at) : std::nullopt;
    if (!name || lstrcmpiA(name->c_str(), dll) != 0) continue;
    const auto thunks = offset_of(d.OriginalFirstThunk ? d.OriginalFirstThunk : d.FirstThunk);
    for (std::size_t t = thunks ? *thunks : pe.size();; t += sizeof(DWORD)) {
      DWORD thunk = 0;
      if (!pe.read(t, &thunk) || thunk == 0) break;
      if (thunk & IMAGE_ORDINAL_FLAG32) {
        names.push_back(format("#%u", static_cast<unsigned>(IMAGE_ORDINAL32(thunk))));
      } else {
        const auto hint_at = offset_of(thunk);
        if (const auto import = hint_at ? pe.text(*hint_at + 2) : std::nullopt)
          names.push_back(*import);
      }
    }
  }
  return names;
}

// Whether the Windows program or DLL at `path` is 64-bit (PE32+), from its
// headers; nullopt when it is no such file.
std::optional<bool> is_64bit_image(const std::string& path) {
  std::FILE* f = sv::files::open(path, "rb");
  if (!f) return std::nullopt;
  unsigned char head[4096];
  const std::size_t n = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  const auto read = [&](std::size_t offset, auto* out) {
    if (offset > n || n - offset < sizeof *out) return false;
    std::memcpy(out, head + offset, sizeof *out);
    return true;
  };
  IMAGE_DOS_HEADER dos{};
  DWORD signature = 0;
  WORD magic = 0;
  if (!read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) return std::nullopt;
  const std::size_t nt = static_cast<std::size_t>(dos.e_lfanew);
  if (!read(nt, &signature) || signature != IMAGE_NT_SIGNATURE ||
      !read(nt + 4 + sizeof(IMAGE_FILE_HEADER), &magic))
    return std::nullopt;
  return magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
}

std::string value_type_name(DWORD type) {
  switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK: return "REG_LINK";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return format("type %lu", static_cast<unsigned long>(type));
  }
}

}  // namespace

std::optional<Check> check_system() {
  using RtlGetVersion_t = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  // GetVersionEx tells a program without a manifest "Windows 8" on every
  // later Windows; the kernel's own call does not.
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto get =
      ntdll ? reinterpret_cast<RtlGetVersion_t>(dynlib::symbol(ntdll, "RtlGetVersion")) : nullptr;
  if (!get || get(&v) != 0) return Check{kSystemLabel, "its version cannot be read", false};
  const DWORD major = v.dwMajorVersion, minor = v.dwMinorVersion, build = v.dwBuildNumber;
  const char* name = major == 6 && minor == 1   ? "7"
                     : major == 6 && minor == 2 ? "8"
                     : major == 6 && minor == 3 ? "8.1"
                     : major == 10              ? (build >= 22000 ? "11" : "10")
                                                : "";
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  SYSTEM_INFO si{};
  GetNativeSystemInfo(&si);
  const WORD arch = si.wProcessorArchitecture;
  const char* bits = arch == PROCESSOR_ARCHITECTURE_AMD64             ? "64-bit (x64)"
                     : arch == PROCESSOR_ARCHITECTURE_INTEL && !wow64 ? "32-bit"
                     : wow64                                          ? "64-bit"
                                                                      : "of another processor";
  std::string seen = format("%s%s%lu.%lu build %lu", *name ? name : "", *name ? " (" : "",
                            static_cast<unsigned long>(major), static_cast<unsigned long>(minor),
                            static_cast<unsigned long>(build));
  if (*name) seen += ")";
  const std::string pack = win32::utf8(v.szCSDVersion);
  if (!pack.empty()) seen += " " + pack;
  seen += format(", %s; this 32-bit program runs %s", bits, wow64 ? "under WOW64" : "natively");
  const bool supported = major > 6 || (major == 6 && minor >= 1);
  if (!supported) seen += "; the plug-in needs Windows 7 or later";
  return Check{kSystemLabel, seen, supported};
}

std::optional<Check> check_common_controls(const std::string& plugin_path) {
  std::string why;
  const auto wanted = imports_from(plugin_path, "comctl32.dll", &why);
  DWORD error = 0;
  HMODULE controls = load_quietly(kControlsDll, &error);
  if (!controls)
    return Check{kControlsLabel,
                 "comctl32.dll cannot be loaded: " + win32::system_reason(error, "comctl32.dll"),
                 false};
  wchar_t path[MAX_PATH + 1] = L"";
  GetModuleFileNameW(controls, path, MAX_PATH);
  std::string seen = win32::utf8(path);
  if (std::string version = file_version(seen); !version.empty()) seen += " " + version;
  std::vector<std::string> missing;
  for (const std::string& name : wanted ? *wanted : std::vector<std::string>{}) {
    const char* which =
        name[0] == '#' ? MAKEINTRESOURCEA(std::stoul(name.substr(1))) : name.c_str();
    if (!dynlib::symbol(controls, which)) missing.push_back(name);
  }
  FreeLibrary(controls);
  if (!wanted)
    return Check{kControlsLabel, seen + "; not checked against the plug-in: " + why, false, true};
  if (!missing.empty()) {
    std::string list;
    for (const auto& m : missing) list += (list.empty() ? "" : ", ") + m;
    return Check{kControlsLabel,
                 seen + " lacks " + list +
                     " by name, which the plug-in imports: Windows cannot load the plug-in",
                 false};
  }
  return Check{kControlsLabel,
               seen + format(" has the %zu functions the plug-in takes from it", wanted->size()),
               true};
}

std::optional<Check> check_settings() {
  HKEY key = nullptr;
  const LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key);
  if (opened != ERROR_SUCCESS)
    return Check{
        kSettingsLabel,
        std::string(kSettingsKeyText) + (opened == ERROR_FILE_NOT_FOUND
                                             ? " does not exist: every setting takes its default"
                                             : " cannot be read (" + win32::system_reason(opened) +
                                                   "): every setting takes its default"),
        true};
  std::vector<std::wstring> names(std::begin(kSettingNames), std::end(kSettingNames));
  for (int i = 0; i < kColourSettings; ++i) names.push_back(L"Default Color " + std::to_wstring(i));
  std::string set, wrong;
  int count = 0;
  for (const std::wstring& name : names) {
    DWORD type = 0, size = 0;
    const LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND || (rc == ERROR_SUCCESS && size == 0)) continue;
    const std::string quoted = "\"" + win32::utf8(name) + "\"";
    if (rc != ERROR_SUCCESS) {
      wrong +=
          (wrong.empty() ? "" : "; ") + quoted + " cannot be read: " + win32::system_reason(rc);
      continue;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      wrong += (wrong.empty() ? "" : "; ") + quoted + " is " + value_type_name(type) +
               ", where the plug-in takes only text (REG_SZ)";
      continue;
    }
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = size;
    RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                     &got);
    ++count;
    set += (set.empty() ? "" : ", ") + quoted + "=\"" + win32::utf8(data.data()) + "\"";
  }
  RegCloseKey(key);
  if (!wrong.empty())
    return Check{kSettingsLabel,
                 std::string(kSettingsKeyText) + ": " + wrong + ": the plug-in refuses to load",
                 false};
  return Check{kSettingsLabel,
               std::string(kSettingsKeyText) +
                   format(": %d of %zu values set", count, names.size()) +
                   (set.empty() ? "" : " (" + set + ")") + ", the others take their defaults",
               true};
}

namespace {

// The files named SVSTRING7.DLL that are mapped into this process, by the
// system's names for them. The plug-in maps its copy as a resource image,
// which the loader's list of modules does not show.
std::vector<std::wstring> string_library_mappings() {
  std::vector<std::wstring> found;
  const std::wstring suffix = std::wstring(L"\\") + kStringLibrary;
  const void* last = nullptr;
  MEMORY_BASIC_INFORMATION region{};
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
    if (region.AllocationBase && region.AllocationBase != last &&
        (region.Type == MEM_IMAGE || region.Type == MEM_MAPPED)) {
      last = region.AllocationBase;
      wchar_t name[MAX_PATH * 2];
      const DWORD n =
          GetMappedFileNameW(GetCurrentProcess(), region.AllocationBase, name, MAX_PATH * 2);
      if (n >= suffix.size() &&
          CompareStringOrdinal(name + n - suffix.size(), static_cast<int>(suffix.size()),
                               suffix.c_str(), static_cast<int>(suffix.size()), TRUE) == CSTR_EQUAL)
        found.emplace_back(name, n);
    }
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return found;
}

// Where the plug-in looks when the host has loaded none: beside the program
// that loaded it, then in the system folder.
std::vector<std::string> string_library_places() {
  wchar_t system[MAX_PATH + 1] = L"";
  GetSystemDirectoryW(system, MAX_PATH);
  return {sv::files::join(sv::files::program_folder(), "SVSTRING7.DLL"),
          sv::files::join(win32::utf8(system), "SVSTRING7.DLL")};
}

// A mapped file's name ("\Device\HarddiskVolume2\...") against a path:
// the same but for the drive.
bool same_file(const std::wstring& mapped, const std::string& path) {
  const std::wstring tail = win32::wide(path.size() > 2 && path[1] == ':' ? path.substr(2) : path);
  return mapped.size() >= tail.size() &&
         CompareStringOrdinal(mapped.c_str() + mapped.size() - tail.size(),
                              static_cast<int>(tail.size()), tail.c_str(),
                              static_cast<int>(tail.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

bool string_library_loaded() { return !string_library_mappings().empty(); }

std::optional<Check> check_string_library(bool loaded_before) {
  const std::vector<std::wstring> mapped = string_library_mappings();
  const std::vector<std::string> places = string_library_places();
  if (!mapped.empty()) {
    std::string path;
    for (const std::string& place : places)
      if (path.empty() && same_file(mapped.front(), place)) path = place;
    const std::string seen =
        (loaded_before ? "the host's, " : "found by the plug-in's start-up: ") +
        (path.empty() ? win32::utf8(mapped.front()) : path);
    if (path.empty()) return Check{kStringLabel, seen + " (its texts not checked)", true};
    // The texts, from a mapping of our own, as the plug-in reads them.
    DWORD error = 0;
    HMODULE library = load_quietly(win32::wide(path), &error, kResourceImage);
    if (!library)
      return Check{kStringLabel,
                   seen + ", but its texts cannot be read: " + win32::system_reason(error, path),
                   false};
    std::string missing;
    for (unsigned id : kStringIds) {
      wchar_t text[kTextChars];
      if (LoadStringW(library, id, text, kTextChars) == 0)
        missing += (missing.empty() ? "" : ", ") + std::to_string(id);
    }
    FreeLibrary(library);
    if (!missing.empty())
      return Check{kStringLabel,
                   seen + " lacks the texts of ids " + missing +
                       ": the block shows \"String-Resource nicht gefunden!\" in their place",
                   false};
    return Check{kStringLabel, seen + ", with every text the block shows", true};
  }
  for (const std::string& path : places) {
    if (GetFileAttributesW(win32::wide(path).c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    DWORD error = 0;
    std::string why;
    if (HMODULE m = load_quietly(win32::wide(path), &error, kResourceImage)) {
      FreeLibrary(m);
      why = "it loads here, yet the plug-in did not take it";
    } else {
      why = "Windows cannot load it: " + win32::system_reason(error, path);
    }
    return Check{kStringLabel,
                 path + " is there, but " + why + "; the block shows its German texts", false};
  }
  // Started from the ZIP file's folder, the self-test stands where the host
  // program would: what it finds there says nothing about the host.
  return Check{kStringLabel,
               "SVSTRING7.DLL is neither " + places[0] + " nor " + places[1] +
                   ": here the block shows its German texts; in the host it takes the host's "
                   "own SVSTRING7.DLL, where the host has one",
               true};
}

std::string load_failure_meaning(const std::string& path, const std::string& error) {
  // The system's reason ends in its code: "... (193)".
  const std::size_t open = error.rfind('(');
  char* end = nullptr;
  const unsigned long code =
      open == std::string::npos ? 0 : std::strtoul(error.c_str() + open + 1, &end, 10);
  if (!end || std::string_view(end) != ")") return {};
  switch (code) {
    case ERROR_ACCESS_DENIED:
      return "Windows refused this user access to the file, or security software holds it";
    case ERROR_BAD_EXE_FORMAT:
      return is_64bit_image(path).value_or(false)
                 ? "it is a 64-bit DLL, and the block is 32-bit: another file of that name"
                 : "it is no Windows DLL: a damaged copy; unpack the ZIP file again";
    case ERROR_MOD_NOT_FOUND:
      return "a DLL it needs is missing; the block needs only Windows' own DLLs: repair Windows";
    case ERROR_PROC_NOT_FOUND:
      return "Windows lacks a function that the block takes from it (see the lines above)";
    case ERROR_DLL_INIT_FAILED:
      return "the block's start-up failed (see the host-wide settings line)";
    case kVirusInfected:
      return "security software took it for a threat: if the ZIP file's checksum matches "
             "SHA256SUMS, restore the DLL and allow it there";
    case kPolicyBlocked:
      return "an application control policy blocked it, such as Windows 11's Smart App Control, "
             "which lets only signed files load";
    default: return {};
  }
}

std::string only_64bit_programs(const std::string& folder) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(win32::wide(sv::files::join(folder, "*.exe")).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return {};
  std::string programs;
  bool all = true;
  do {
    const std::string name = win32::utf8(found.cFileName);
    all = all && is_64bit_image(sv::files::join(folder, name)).value_or(false);
    programs += (programs.empty() ? "" : ", ") + name;
  } while (all && FindNextFileW(search, &found));
  FindClose(search);
  return all ? programs : std::string();
}

std::string file_version(const std::string& path) {
  const std::wstring file = win32::wide(path);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<unsigned char> block(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data()) ||
      !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof *info)
    return {};
  return version_text(*info);
}

bool failures_are_raised() { return true; }

}  // namespace svhost::selftest
