// The Windows platform layer, on the real functions (under Wine here),
// answers as the fakes and the Linux layer do.
#include "platform/win32/windows_api.h"

#include <memory>
#include <string>

#include "contract/files_contract.h"
#include "contract/profile_contract.h"
#include "contract/registry_contract.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_profile.h"
#include "platform/win32/win32_registry.h"

namespace vendrel::platform {
namespace {

// A scratch folder below the temporary folder, removed with its files.
class ScratchFolder {
 public:
  ScratchFolder() {
    static int counter = 0;
    char temp[MAX_PATH + 1];
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "vendrel-contract-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~ScratchFolder() { Remove(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string operator/(const std::string& inside) const { return path_ + "\\" + inside; }

 private:
  static void Remove(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        std::string path = folder + "\\" + name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          Remove(path);
        } else {
          DeleteFileA(path.c_str());
        }
      } while (FindNextFileA(find, &entry));
      FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
  }

  std::string path_;
};

bool RunsUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void Put(const std::string& path, const std::string& content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD wrote = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &wrote, nullptr);
  CloseHandle(file);
}

std::optional<std::string> Get(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string content;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    content.append(buffer, got);
  CloseHandle(file);
  return content;
}

struct Win32RegistryImpl {
  static constexpr const char* kKeyPath = "Software\\Vendrel Contract Test";
  std::unique_ptr<Registry> Make() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kKeyPath);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath);
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    const BYTE drive[] = {'C', ':', 0};
    const BYTE count[] = {42, 0, 0, 0};
    const BYTE blob[] = {1, 2};
    RegSetValueExA(key, "Drive", 0, REG_SZ, drive, sizeof drive);
    RegSetValueExA(key, "Count", 0, REG_DWORD, count, sizeof count);
    RegSetValueExA(key, "Blob", 0, REG_BINARY, blob, sizeof blob);
    RegCloseKey(key);
    return std::make_unique<Win32Registry>();
  }
  ~Win32RegistryImpl() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath); }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, RegistryContract, Win32RegistryImpl);

struct Win32FilesImpl {
  ScratchFolder dir;
  std::unique_ptr<Files> Make() {
    CreateDirectoryA((dir / "KOVA").c_str(), nullptr);
    Put(dir / "KOVA\\dromfile.dat", "0123456789");
    Put(dir / "KOVA\\locked.dat", "x");
    SetFileAttributesA((dir / "KOVA\\locked.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    return std::make_unique<Win32Files>();
  }
  std::string Name(const std::string& inside) { return dir / inside; }
  std::string Content() { return Get(dir / "KOVA\\dromfile.dat").value_or(""); }
  // Wine maps the read-only attribute to the Unix permission bits, which do
  // not stop a program that runs as root there; Windows always enforces it.
  bool EnforcesReadOnly() { return !RunsUnderWine(); }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, FilesContract, Win32FilesImpl);

struct Win32ProfileImpl {
  ScratchFolder dir;
  Win32ProfileWriter profile;
  ProfileWriter& writer() { return profile; }
  std::string File() { return dir / "kova\\kelvarini.dat"; }
  void MakeFolder() { CreateDirectoryA((dir / "kova").c_str(), nullptr); }
  void Prepare(const Sections& sections) {
    MakeFolder();
    Put(File(), WriteSections(sections));
  }
  std::optional<Sections> Read() {
    std::optional<std::string> text = Get(File());
    if (!text) return std::nullopt;
    return ReadSections(*text);
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, ProfileContract, Win32ProfileImpl);

}  // namespace
}  // namespace vendrel::platform
