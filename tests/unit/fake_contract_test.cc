// The fakes the other tests run on answer as the real platform does.
#include <memory>

#include "contract/files_contract.h"
#include "contract/profile_contract.h"
#include "contract/registry_contract.h"
#include "platform/fake/memory_files.h"
#include "platform/fake/memory_profile.h"
#include "platform/fake/memory_registry.h"

namespace vendrel::platform {
namespace {

struct MemoryRegistryImpl {
  static constexpr const char* kKeyPath = "Software\\Tarvel Global";
  std::unique_ptr<Registry> Make() {
    auto registry = std::make_unique<MemoryRegistry>();
    registry->PutText(RootKey::kLocalMachine, kKeyPath, "Drive", "C:");
    registry->Put(RootKey::kLocalMachine, kKeyPath, "Count",
                  {kRegDword, std::string("*\0\0\0", 4)});
    registry->Put(RootKey::kLocalMachine, kKeyPath, "Blob", {kRegBinary, "\x01\x02"});
    return registry;
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Memory, RegistryContract, MemoryRegistryImpl);

struct MemoryFilesImpl {
  MemoryFiles* files = nullptr;
  std::unique_ptr<Files> Make() {
    auto made = std::make_unique<MemoryFiles>();
    made->Put("C:\\KOVA\\dromfile.dat", "0123456789");
    made->Put("C:\\KOVA\\locked.dat", "x", /*read_only=*/true);
    made->AddFolder("C:\\KOVA");
    files = made.get();
    return made;
  }
  std::string Name(const std::string& inside) { return "C:\\" + inside; }
  std::string Content() { return files->Content("C:\\KOVA\\dromfile.dat"); }
  bool EnforcesReadOnly() { return true; }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Memory, FilesContract, MemoryFilesImpl);

struct MemoryProfileImpl {
  MemoryProfile profile;
  ProfileWriter& writer() { return profile; }
  std::string File() { return "F:\\kova\\kelvarini.dat"; }
  void MakeFolder() { profile.AddFolder("F:\\kova"); }
  void Prepare(const Sections& sections) { profile.Put(File(), sections); }
  std::optional<Sections> Read() { return profile.Get(File()); }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Memory, ProfileContract, MemoryProfileImpl);

}  // namespace
}  // namespace vendrel::platform
