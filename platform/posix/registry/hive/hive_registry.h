// One hive of the registry as a Windows installation keeps it on its disk:
// a SOFTWARE hive (HKEY_LOCAL_MACHINE\Software) or a user's NTUSER.DAT
// (HKEY_CURRENT_USER), read a page at a time down the key's path and
// written through the hive's transaction logs as Windows writes it, for
// repairing an installation from a mounted disk.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_REGISTRY_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_REGISTRY_H_

#include <sys/stat.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/files/drive_map.h"
#include "platform/posix/files/placed_file.h"
#include "platform/posix/registry/hive/code_page.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_walk.h"
#include "platform/registry.h"

namespace vendrel::platform {

class HiveRegistry : public Registry {
 public:
  enum class Contents {
    kSoftware,  // HKEY_LOCAL_MACHINE\Software is the hive's root
    kUser,      // HKEY_CURRENT_USER is the hive's root
  };

  // Text values are converted through code_page as the A functions convert
  // them; without one, every open is refused with code_page_problem. The
  // hive path is placed beneath the disk that holds it, which may be one of
  // drives (when given), and may be a drive path. installation, when given,
  // is the SOFTWARE hive of the same Windows, which says which Windows it
  // is (a SOFTWARE hive says so itself).
  HiveRegistry(std::string hive_path, Contents contents, std::shared_ptr<const CodePage> code_page,
               std::string code_page_problem = {}, const DriveMap* drives = nullptr,
               HiveRegistry* installation = nullptr);
  ~HiveRegistry() override;
  HiveRegistry(HiveRegistry&&) noexcept;
  HiveRegistry& operator=(HiveRegistry&&) = delete;

  Result OpenKey(RootKey root, const std::string& sub_key, std::uint32_t access,
                 KeyHandle* key) override;
  Result QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override;
  Result SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                  const std::uint8_t* data, std::uint32_t size) override;
  // Sets are staged in the hive as loaded, under the file's lock, and
  // committed together, durably and at once, by the flush of any key or
  // the close of one (or when the object goes): a run stopped between two
  // sets leaves the hive as it was.
  Result FlushKey(KeyHandle key) override;
  Result CloseKey(KeyHandle key) override;

  // The build number of the Windows installation the hive belongs to,
  // where a SOFTWARE hive can tell it.
  std::optional<std::uint32_t> WindowsBuild();

  // say is told, when a dirty hive is read, how many entries of its logs
  // were applied.
  void SayRecoveries(std::function<void(const std::string&)> say) { say_ = std::move(say); }

  // What the key at path below the hive's root holds (names as the A
  // functions give them): its values, and its subkeys' names, with each
  // subkey's value named subkey_value where one is named (empty where it
  // holds none), text up to its first NUL. Reads the hive as it stands;
  // kFileNotFound for a key it does not hold.
  struct Value {
    std::string name;  // as the A functions give it
    std::uint32_t type = 0;
    std::string data;  // as the A functions give it: text converted
  };
  struct KeyContent {
    std::vector<Value> values;
    std::vector<std::string> subkeys;
    std::vector<std::string> subkey_values;
  };
  Result ReadKey(const std::vector<std::string>& path, KeyContent* content,
                 const std::string& subkey_value = {});

 private:
  struct Loaded;  // a hive opened to be read a page at a time
  struct Staged;  // the lock held from a change's first set to its commit
  // An open key answers from the values it held when it was opened, as
  // this object last wrote them.
  struct OpenedKey {
    std::string name;               // as opened, for reports
    std::vector<std::string> path;  // UTF-16LE names below the hive's root
    std::vector<Value> values;
  };
  // A key as the loaded hive holds it: its cell, the keys on the way to it,
  // and its values.
  struct FoundKey {
    KeyCell key;
    std::vector<KeyCell> way;  // the keys on the way to it: the root first, the key last
    std::vector<ValueCell> values;
  };

  // The key's path inside the hive for a path below the root key, or
  // nothing when the hive cannot hold it.
  bool HivePath(RootKey root, const std::string& sub_key, bool has_wow64_node,
                std::vector<std::string>* path) const;
  // Walks the loaded hive to the key at path; kFileNotFound when it has
  // no such key.
  Result FindKey(const std::string& key_name, const std::vector<std::string>& path,
                 FoundKey* found) const;
  // Whether the loaded hive's root has a Wow6432Node key.
  Result HasWow64Node(bool* has) const;
  Result Failure(WinCode code, const std::string& problem) const;
  // The report of a hive that cannot be placed, for errno value error.
  Result CannotOpen(int error) const;
  // The report of a key that cannot be read or changed safely.
  Result Damaged(const std::string& key_name, const std::string& problem) const;
  // A value of the key named key_name as the A functions give it.
  Result ReadValue(const std::string& key_name, const ValueCell& cell, Value* read) const;
  // The report of a key holding names that cannot be told apart, given as
  // stored, or kSuccess.
  Result CheckNames(const std::string& key_name, const std::vector<std::string>& names) const;
  // Reads the hive open as fd, whose status is file, into *loaded.
  Result Load(int fd, const struct stat& file, std::unique_ptr<Loaded>* loaded) const;
  // Makes loaded_ the placed hive as it stands between two writers' changes,
  // unless it is that already.
  Result LoadSettled(const PlacedFile& placed);
  // The report for a hive that must be neither read nor written.
  Result Refusal(HiveState state) const;
  // The report's words for a dirty or damaged hive its logs cannot
  // recover, for the reason recovery gave.
  static std::string Unrecovered(HiveState state, const std::string& reason);

  // Locks the hive and makes the loaded hive the file as it stands under
  // the lock, for the sets to change.
  Result BeginChange();
  // Writes the staged change to the file; nothing when none is staged.
  Result Commit();
  Result FileFailure(int error) const;

  // The hive placed by its path once, and reached through its folder's
  // descriptor from then on. Returns 0 or an errno value.
  int Placement(const PlacedFile** placed);

  std::string hive_path_;  // empty for a hive that cannot be had: every open is refused
  const DriveMap* drives_;
  std::function<void(const std::string&)> say_;
  HiveRegistry* installation_;
  PlacedFile placed_;
  Contents contents_;
  std::shared_ptr<const CodePage> code_page_;
  std::string code_page_problem_;
  std::map<KeyHandle, OpenedKey> keys_;
  KeyHandle next_handle_ = 0x300;
  // The hive as this object last read or committed it, still loaded, and
  // the file it was: opens and sets use it while the file is that very file.
  std::unique_ptr<Loaded> loaded_;
  // Set while loaded_ holds sets that are not yet in the file.
  std::unique_ptr<Staged> staged_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_REGISTRY_H_
