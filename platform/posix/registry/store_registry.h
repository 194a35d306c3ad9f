// The registry of the Linux build: both hives in one REGEDIT4 store file.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_STORE_REGISTRY_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_STORE_REGISTRY_H_

#include <map>
#include <memory>
#include <string>

#include "platform/posix/files/atomic_update.h"
#include "platform/posix/files/placed_file.h"
#include "platform/posix/registry/reg_document.h"
#include "platform/registry.h"

namespace vendrel::platform {

class StoreRegistry : public Registry {
 public:
  explicit StoreRegistry(std::string store_path);
  // A change still staged is committed, as Windows' lazy writer would; a
  // failure then has no one left to hear of it.
  ~StoreRegistry() override;
  StoreRegistry(const StoreRegistry&) = delete;
  StoreRegistry& operator=(const StoreRegistry&) = delete;

  // VENDREL_REGISTRY, else $XDG_CONFIG_HOME/vendrel/registry.reg, with
  // $HOME/.config for an unset XDG_CONFIG_HOME.
  static std::string DefaultStorePath();

  Result OpenKey(RootKey root, const std::string& sub_key, std::uint32_t access,
                 KeyHandle* key) override;
  Result QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override;
  Result SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                  const std::uint8_t* data, std::uint32_t size) override;
  // Sets are staged in memory, under the store's lock, and committed
  // together, durably and at once, by the flush of any key or the close
  // of one: a run stopped between two sets leaves the store as it was.
  Result FlushKey(KeyHandle key) override;
  Result CloseKey(KeyHandle key) override;

 private:
  using Document = std::shared_ptr<const RegDocument>;

  // An open key answers from the store as it was read when the key opened
  // (or as this object last wrote it), indexed for that key.
  struct OpenedKey {
    std::string path;  // with the hive's full name
    Document document;
  };

  // Parses the store; a store that is not in the format is a corrupt
  // registry, with the file and the line named.
  Result Load(std::string content, std::string_view key_path, RegDocument* document) const;
  // The document of the store's content, indexed for the key: the last one
  // this object read or wrote when the content is the very same, so that a
  // run validates an unchanged store once, else the content parsed.
  Result Current(std::string content, const std::string& key_path, Document* document);

  // The store as changed by the sets not yet committed, and the lock held
  // on it from the first of them to the commit, which keeps other writers
  // out and the room for the new store on the disk.
  struct Staged {
    LockedFile locked;
    std::shared_ptr<RegDocument> document;
    bool changed = false;  // a set was staged
  };
  // Locks the store and stages its content, for a key at key_path.
  Result BeginChange(const std::string& key_path);
  Result Commit();
  Result FileFailure(int error) const;

  // The store placed by its path once, and reached through its folder's
  // descriptor from then on. Returns 0 or an errno value.
  int Placement(const PlacedFile** placed);

  std::string store_path_;
  PlacedFile placed_;
  std::map<KeyHandle, OpenedKey> keys_;
  KeyHandle next_handle_ = 0x100;
  Document last_;
  std::unique_ptr<Staged> staged_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_STORE_REGISTRY_H_
