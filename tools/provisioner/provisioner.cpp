// The provisioner: turns a machine file (machines/README.md) into the Wine prefix it runs in,
// and takes it out again.
//
//   provisioner provision MACHINE_FILE [--standin DLL] [--image LE_FILE]
//   provisioner remove
//
// Everything it creates is recorded, as it goes, in a record file in the Windows directory;
// "remove" (and every "provision", before it starts) takes exactly those things away again,
// newest first, so provisioning twice gives the same machine and a failed run can still be
// cleaned up. It never replaces a driver file or a registry value it did not create, except
// the enumerator driver file in the system directory, which the kernel stand-in replaces.
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "driver_file_image.h"
#include "driver_machine.h"
#include "machine_file.h"

namespace {

using provisioner::DriverDirectory;
using provisioner::DriverFile;
using provisioner::Machine;

const char kRecordName[] = "\\PROVISIONED-MACHINE.TXT";
const char kDeviceNodeRoot[] = "Config Manager\\Enum";
const char kHardwareRoot[] = "Enum";
const char kClassRoot[] = "System\\CurrentControlSet\\Services\\Class";
const char kStandinName[] = "\\ORV_DE.VXD";
const char kStandinDescriptionName[] = "\\ORV_DE.MACHINE";
const char kStandinImageName[] = "ORV_DE.LE";

std::string RecordPath() {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  return std::string(windows) + kRecordName;
}

std::string LastErrorText(DWORD error) {
  char text[256] = {};
  if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                      sizeof text, nullptr))
    return "error " + std::to_string(error);
  std::string s(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
  return s + " (" + std::to_string(error) + ")";
}

bool Fail(const std::string& what) {
  fprintf(stderr, "provisioner: %s\n", what.c_str());
  return false;
}

// A path as Windows programs take it. Under Wine a Unix absolute path ("/work/...") is turned
// into its DOS form (Z:\work\...) through Wine's own conversion; anything else is kept.
std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  typedef WCHAR*(CDECL * ToDos)(const char*);
  ToDos to_dos = reinterpret_cast<ToDos>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_dos_file_name")));
  if (!to_dos) return path;
  WCHAR* wide = to_dos(path.c_str());
  if (!wide) return path;
  char ansi[MAX_PATH * 2] = {};
  WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof ansi, nullptr, nullptr);
  HeapFree(GetProcessHeap(), 0, wide);
  return ansi;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(file, nullptr);
  bool done = size != INVALID_FILE_SIZE && size < (16u << 20);
  if (done) {
    text->assign(size, '\0');
    DWORD read = 0;
    done = size == 0 || (ReadFile(file, &(*text)[0], size, &read, nullptr) && read == size);
  }
  CloseHandle(file);
  return done;
}

bool WriteNewFile(const std::string& path, const void* bytes, size_t size, DWORD disposition) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool done = WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) && written == size;
  CloseHandle(file);
  return done;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// ---------------------------------------------------------------------------------------
// The record of what was created. One line per thing, fields separated by TABs:
//   dir <path> | file <path> | key <root> <path> | value <root> <path> <name>
// <root> is HKEY_DYN_DATA or HKEY_LOCAL_MACHINE.

struct RecordLine {
  std::vector<std::string> fields;
};

class Record {
 public:
  bool Open() {
    file_ = CreateFileA(RecordPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return Fail("cannot write " + RecordPath() + ": " + LastErrorText(GetLastError()));
    SetFilePointer(file_, 0, nullptr, FILE_END);
    return true;
  }
  ~Record() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  bool Add(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& field : fields) line += (line.empty() ? "" : "\t") + field;
    line += "\r\n";
    DWORD written = 0;
    if (!WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) || written != line.size())
      return Fail("cannot write " + RecordPath());
    FlushFileBuffers(file_);
    return true;
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

std::vector<RecordLine> ReadRecord() {
  std::vector<RecordLine> lines;
  std::string text;
  if (!ReadWholeFile(RecordPath(), &text)) return lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    RecordLine record;
    size_t start = 0;
    for (;;) {
      size_t tab = line.find('\t', start);
      record.fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    lines.push_back(record);
  }
  return lines;
}

// Deletes a file; gone already counts as deleted. A file that another process has open (an
// inventory reading its version resource, a script host still shutting down) is tried again
// for a few seconds.
bool DeleteIfPresent(const std::string& path) {
  for (int attempt = 0;; ++attempt) {
    if (DeleteFileA(path.c_str()) || !Exists(path)) return true;
    DWORD error = GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 30) {
      SetLastError(error);
      return false;
    }
    Sleep(100);
  }
}

HKEY RootByName(const std::string& name) {
  if (name == "HKEY_DYN_DATA") return HKEY_DYN_DATA;
  if (name == "HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
  return nullptr;
}

// Takes away what the record lists, newest first. Things already gone are fine (a stopped
// wineserver forgets HKEY_DYN_DATA; registration deletes the enumerator driver file).
// Returns false when something that is still there could not be removed.
bool RemoveRecorded() {
  std::vector<RecordLine> lines = ReadRecord();
  bool clean = true;
  for (size_t i = lines.size(); i-- > 0;) {
    const std::vector<std::string>& f = lines[i].fields;
    const std::string& kind = f[0];
    if (kind == "file" && f.size() == 2) {
      if (!DeleteIfPresent(f[1])) clean = Fail("cannot delete " + f[1] + ": " + LastErrorText(GetLastError()));
    } else if (kind == "dir" && f.size() == 2) {
      // Only when empty: whatever someone else put there since stays, and so does the directory.
      if (!RemoveDirectoryA(f[1].c_str()) && Exists(f[1]))
        fprintf(stderr, "provisioner: keeping %s: it is not empty\n", f[1].c_str());
    } else if (kind == "key" && f.size() == 3 && RootByName(f[1])) {
      LONG status = RegDeleteKeyA(RootByName(f[1]), f[2].c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        clean = Fail("cannot delete key " + f[1] + "\\" + f[2] + ": " + LastErrorText(status));
    } else if (kind == "value" && f.size() == 4 && RootByName(f[1])) {
      HKEY key = nullptr;
      if (RegOpenKeyExA(RootByName(f[1]), f[2].c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        LONG status = RegDeleteValueA(key, f[3].c_str());
        RegCloseKey(key);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
          clean = Fail("cannot delete value " + f[3] + " of " + f[2] + ": " + LastErrorText(status));
      }
    } else if (kind != "machine") {
      clean = Fail("unknown line in " + RecordPath() + ": " + kind);
    }
  }
  if (clean && !DeleteIfPresent(RecordPath()))
    return Fail("cannot delete " + RecordPath() + ": " + LastErrorText(GetLastError()));
  return clean;
}

// ---------------------------------------------------------------------------------------
// Provisioning.

struct Sources {
  std::string standin;  // the kernel stand-in DLL
  std::string image;    // the enumerator driver's LE image
};

std::string DirectoryPath(const driver_fixtures::DriverDirectories& directories, DriverDirectory which) {
  switch (which) {
    case DriverDirectory::kSystem: return directories.system;
    case DriverDirectory::kDrivers: return directories.drivers;
    case DriverDirectory::kIoSubSys: return directories.ioSubSys;
  }
  return directories.system;
}

// A file with no version resource: the bare header of a real-mode executable, which the
// platform's version functions find nothing in.
std::vector<uint8_t> UnversionedImage() {
  std::vector<uint8_t> bytes(64, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes[2] = 64;  // bytes on the last page
  bytes[4] = 1;   // pages
  bytes[8] = 4;   // header paragraphs
  return bytes;
}

bool EnsureDirectory(const std::string& path, Record* record) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
    return Fail(path + " is a file, not a directory");
  }
  if (!CreateDirectoryA(path.c_str(), nullptr)) return Fail("cannot create " + path + ": " + LastErrorText(GetLastError()));
  return record->Add({"dir", path});
}

bool PlaceDriverFile(const std::string& path, const DriverFile& file, Record* record) {
  std::vector<uint8_t> bytes =
      file.has_version
          ? driver_fixtures::BuildVersionedPe({file.version[0], file.version[1], file.version[2], file.version[3]})
          : UnversionedImage();
  if (!WriteNewFile(path, bytes.data(), bytes.size(), CREATE_NEW))
    return Fail("cannot create " + path + ": " + LastErrorText(GetLastError()));
  if (!record->Add({"file", path})) return false;
  const provisioner::FileTime& t = file.last_write;
  if (!driver_fixtures::SetLastWriteTime(
          path, driver_fixtures::UtcFileTime(t.year, t.month, t.day, t.hour, t.minute, t.second)))
    return Fail("cannot set the last-write time of " + path + ": " + LastErrorText(GetLastError()));
  return true;
}

// Opens root\path, creating every missing part; records each part it created.
bool CreateKeyPath(HKEY root, const char* root_name, const std::string& path, Record* record, HKEY* out) {
  HKEY current = root;
  std::string done;
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = path.find('\\', at);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(at, end - at);
    at = end + 1;
    done += (done.empty() ? "" : "\\") + part;
    HKEY next = nullptr;
    DWORD disposition = 0;
    LONG status = RegCreateKeyExA(current, part.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &next, &disposition);
    if (current != root) RegCloseKey(current);
    if (status != ERROR_SUCCESS)
      return Fail(std::string("cannot create key ") + root_name + "\\" + done + ": " + LastErrorText(status));
    current = next;
    if (disposition == REG_CREATED_NEW_KEY && !record->Add({"key", root_name, done})) {
      RegCloseKey(current);
      return false;
    }
  }
  *out = current;
  return true;
}

bool SetStringValue(HKEY root, const char* root_name, const std::string& path, const std::string& name,
                    const std::string& data, Record* record) {
  HKEY key = nullptr;
  if (!CreateKeyPath(root, root_name, path, record, &key)) return false;
  bool done = true;
  if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    done = Fail(std::string("value ") + name + " of " + root_name + "\\" + path +
                " is already there: it was not put there by the provisioner");
  } else if (!record->Add({"value", root_name, path, name})) {
    done = false;
  } else {
    LONG status = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>(data.size() + 1));
    if (status != ERROR_SUCCESS) done = Fail("cannot set value " + name + " of " + path + ": " + LastErrorText(status));
  }
  RegCloseKey(key);
  return done;
}

bool PlaceStandin(const Machine& machine, const Sources& sources, const std::string& system, Record* record) {
  const std::string standin = system + kStandinName;
  const std::string image = system + "\\" + kStandinImageName;
  const std::string description = system + kStandinDescriptionName;
  // Recorded before it is written, so that a half-written file is removed too.
  if (!record->Add({"file", standin}) || !record->Add({"file", image}) || !record->Add({"file", description}))
    return false;
  if (!CopyFileA(sources.standin.c_str(), standin.c_str(), FALSE))
    return Fail("cannot copy the kernel stand-in " + sources.standin + " to " + standin + ": " +
                LastErrorText(GetLastError()));
  if (machine.has_enumerator_time) {
    const provisioner::FileTime& t = machine.enumerator_written;
    if (!driver_fixtures::SetLastWriteTime(
            standin, driver_fixtures::UtcFileTime(t.year, t.month, t.day, t.hour, t.minute, t.second)))
      return Fail("cannot set the last-write time of " + standin + ": " + LastErrorText(GetLastError()));
  }
  if (!CopyFileA(sources.image.c_str(), image.c_str(), FALSE))
    return Fail("cannot copy the driver image " + sources.image + " to " + image + ": " + LastErrorText(GetLastError()));
  std::string text = std::string("# Written by the provisioner from the machine file.\r\nimage ") + kStandinImageName +
                     "\r\n" + machine.kernel_lists;
  if (!WriteNewFile(description, text.data(), text.size(), CREATE_ALWAYS))
    return Fail("cannot write " + description + ": " + LastErrorText(GetLastError()));
  return true;
}

// *changed tells whether the prefix was touched before a failure (so that the caller knows to
// take the half-made machine away again).
bool Provision(const std::string& machine_path, const Sources& sources, bool* changed) {
  *changed = false;
  std::string text;
  if (!ReadWholeFile(machine_path, &text)) return Fail("cannot read the machine file " + machine_path);
  Machine machine;
  std::string error;
  if (!provisioner::ParseMachineFile(text, &machine, &error)) return Fail(machine_path + ": " + error);
  if (!Exists(sources.standin)) return Fail("no kernel stand-in at " + sources.standin + " (--standin)");
  if (!Exists(sources.image)) return Fail("no enumerator driver image at " + sources.image + " (--image)");

  *changed = true;
  if (!RemoveRecorded()) return Fail("the machine provisioned before could not be removed completely");

  const driver_fixtures::DriverDirectories directories = driver_fixtures::GetDriverDirectories();
  for (const DriverFile& file : machine.files) {
    const std::string path = DirectoryPath(directories, file.directory) + "\\" + file.name;
    if (Exists(path)) return Fail(path + " is already there: the provisioner replaces no file it did not create");
  }

  Record record;
  if (!record.Open() || !record.Add({"machine", machine_path})) return false;
  if (!EnsureDirectory(directories.drivers, &record) || !EnsureDirectory(directories.ioSubSys, &record)) return false;
  for (const DriverFile& file : machine.files) {
    if (!PlaceDriverFile(DirectoryPath(directories, file.directory) + "\\" + file.name, file, &record)) return false;
  }
  for (const provisioner::DeviceNode& node : machine.nodes) {
    if (!SetStringValue(HKEY_DYN_DATA, "HKEY_DYN_DATA", std::string(kDeviceNodeRoot) + "\\" + node.name,
                        "HardWareKey", node.hardware_key, &record))
      return false;
  }
  for (const provisioner::HardwareKey& key : machine.hardware_keys) {
    const std::string path = std::string(kHardwareRoot) + "\\" + key.path;
    if (key.has_driver) {
      if (!SetStringValue(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", path, "Driver", key.driver, &record)) return false;
    } else {
      HKEY handle = nullptr;
      if (!CreateKeyPath(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", path, &record, &handle)) return false;
      RegCloseKey(handle);
    }
  }
  for (const provisioner::ClassValue& value : machine.class_values) {
    if (!SetStringValue(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", std::string(kClassRoot) + "\\" + value.key,
                        value.name, value.data, &record))
      return false;
  }
  if (!PlaceStandin(machine, sources, directories.system, &record)) return false;

  size_t versioned = 0;
  for (const DriverFile& file : machine.files) versioned += file.has_version ? 1 : 0;
  printf("Provisioned %s: %u driver files (%u with a version resource), %u device nodes, %u hardware keys, "
         "%u class values, the kernel stand-in in %s\n",
         machine_path.c_str(), static_cast<unsigned>(machine.files.size()), static_cast<unsigned>(versioned),
         static_cast<unsigned>(machine.nodes.size()), static_cast<unsigned>(machine.hardware_keys.size()),
         static_cast<unsigned>(machine.class_values.size()), directories.system.c_str());
  return true;
}

int Usage() {
  fprintf(stderr,
          "usage: provisioner provision MACHINE_FILE [--standin DLL] [--image LE_FILE]\n"
          "       provisioner remove\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "remove") {
    if (argc != 2) return Usage();
    return RemoveRecorded() ? 0 : 1;
  }
  if (command != "provision" || argc < 3) return Usage();
  Sources sources = {BRANTOVIX_STANDIN_PATH, BRANTOVIX_IMAGE_PATH};
  std::string machine_path;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--standin" || arg == "--image") && i + 1 < argc) {
      (arg == "--standin" ? sources.standin : sources.image) = argv[++i];
    } else if (machine_path.empty() && arg.compare(0, 2, "--") != 0) {
      machine_path = arg;
    } else {
      return Usage();
    }
  }
  if (machine_path.empty()) return Usage();
  sources.standin = WindowsPath(sources.standin);
  sources.image = WindowsPath(sources.image);
  bool changed = false;
  if (Provision(WindowsPath(machine_path), sources, &changed)) return 0;
  if (changed) {
    fprintf(stderr, "provisioner: taking the half-provisioned machine away again\n");
    RemoveRecorded();
  }
  return 1;
}
