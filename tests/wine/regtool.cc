// Test-only Windows program: sets the product key's values with exact bytes
// and types, and lists them back, for the acceptance cases under Wine.
//
//   regtool apply FILE   lines "key HIVE", "nokey HIVE" or
//                        "value HIVE NAME-HEX TYPE DATA-HEX"
//   regtool dump         prints "key HIVE" and "value HIVE NAME-HEX TYPE DATA-HEX"
//
// HIVE is HKLM or HKCU. Names and data travel in hexadecimal, so any byte
// passes.
#include "platform/win32/windows_api.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* kKey = "Software\\Tarvel Global";

HKEY Root(const std::string& hive) {
  return hive == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::string FromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

std::string ToHex(const std::string& bytes) {
  std::string out;
  char digits[3];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", c);
    out += digits;
  }
  return out.empty() ? "-" : out;
}

int Apply(const char* path) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string verb, hive, name, type, data;
    words >> verb >> hive;
    if (verb == "key" || verb == "nokey") {
      RegDeleteTreeA(Root(hive), kKey);
      if (verb == "key") {
        HKEY key = nullptr;
        if (RegCreateKeyExA(Root(hive), kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
          return 2;
        }
        RegCloseKey(key);
      }
    } else if (verb == "value") {
      words >> name >> type >> data;
      std::string bytes = data == "-" ? std::string() : FromHex(data);
      // A non-zero byte after the data, so that the API stores a text
      // without its NUL exactly as given.
      std::vector<BYTE> buffer(bytes.begin(), bytes.end());
      buffer.push_back(0x5A);
      HKEY key = nullptr;
      if (RegOpenKeyExA(Root(hive), kKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 3;
      LONG result = RegSetValueExA(key, FromHex(name == "-" ? "" : name).c_str(), 0,
                                   static_cast<DWORD>(std::stoul(type)), buffer.data(),
                                   static_cast<DWORD>(bytes.size()));
      RegFlushKey(key);
      RegCloseKey(key);
      if (result != ERROR_SUCCESS) return 4;
    }
  }
  return 0;
}

int Dump() {
  for (const char* hive : {"HKLM", "HKCU"}) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(Root(hive), kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    std::printf("key %s\n", hive);
    for (DWORD index = 0;; ++index) {
      char name[16384];
      DWORD name_size = sizeof name;
      std::vector<BYTE> data(1 << 16);
      DWORD data_size = static_cast<DWORD>(data.size());
      DWORD type = 0;
      LONG result =
          RegEnumValueA(key, index, name, &name_size, nullptr, &type, data.data(), &data_size);
      if (result != ERROR_SUCCESS) break;
      std::printf("value %s %s %lu %s\n", hive, ToHex(std::string(name, name_size)).c_str(),
                  static_cast<unsigned long>(type),
                  ToHex(std::string(reinterpret_cast<char*>(data.data()), data_size)).c_str());
    }
    RegCloseKey(key);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "apply") return Apply(argv[2]);
  if (argc == 2 && std::string(argv[1]) == "dump") return Dump();
  std::fprintf(stderr, "usage: regtool apply FILE | regtool dump\n");
  return 1;
}
