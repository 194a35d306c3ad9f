// The answers every Registry gives, checked against each implementation, so
// that the fake can never drift from the store the Linux build uses.
#include <gtest/gtest.h>

#include <memory>

#include "platform/fake/memory_registry.h"
#include "platform/posix/store_registry.h"
#include "test_dir.h"

namespace vendrel::platform {
namespace {

constexpr const char* kKey = "Software\\Tarvel Global";

// Both test registries start with HKLM\Software\Tarvel Global holding Drive
// = "C:" (REG_SZ), Count = 42 (REG_DWORD) and Blob = 01 02 (REG_BINARY); the
// per-user hive has no such key.
struct MemoryImpl {
  std::unique_ptr<Registry> Make() {
    auto registry = std::make_unique<MemoryRegistry>();
    registry->PutText(RootKey::kLocalMachine, kKey, "Drive", "C:");
    registry->Put(RootKey::kLocalMachine, kKey, "Count", {kRegDword, std::string("*\0\0\0", 4)});
    registry->Put(RootKey::kLocalMachine, kKey, "Blob", {kRegBinary, "\x01\x02"});
    return registry;
  }
};

struct StoreImpl {
  testing::TestDir dir;
  std::unique_ptr<Registry> Make() {
    std::string path = dir / "registry.reg";
    testing::WriteFile(path,
                       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\r\n"
                       "\"Drive\"=\"C:\"\r\n\"Count\"=dword:0000002a\r\n\"Blob\"=hex:01,02\r\n");
    return std::make_unique<StoreRegistry>(path);
  }
};

template <typename Impl>
class RegistryContractTest : public ::testing::Test {
 protected:
  void SetUp() override { registry_ = impl_.Make(); }

  KeyHandle OpenProductKey() {
    KeyHandle key = 0;
    EXPECT_EQ(registry_->OpenKey(RootKey::kLocalMachine, kKey, kKeyAllAccess, &key), kSuccess);
    return key;
  }

  std::string Data(KeyHandle key, const std::string& name, std::uint32_t* type) {
    std::uint32_t size = 0;
    EXPECT_EQ(registry_->QueryValue(key, name, type, nullptr, &size), kSuccess);
    std::string data(size, '\0');
    EXPECT_EQ(
        registry_->QueryValue(key, name, type, reinterpret_cast<std::uint8_t*>(data.data()), &size),
        kSuccess);
    data.resize(size);
    return data;
  }

  Impl impl_;
  std::unique_ptr<Registry> registry_;
};

using Implementations = ::testing::Types<MemoryImpl, StoreImpl>;
TYPED_TEST_SUITE(RegistryContractTest, Implementations);

TYPED_TEST(RegistryContractTest, OpensOnlyExistingKeysWhateverTheirCase) {
  KeyHandle key = 0;
  EXPECT_NE(this->registry_->OpenKey(RootKey::kCurrentUser, kKey, kKeyAllAccess, &key), kSuccess);
  EXPECT_NE(
      this->registry_->OpenKey(RootKey::kLocalMachine, "Software\\Other", kKeyAllAccess, &key),
      kSuccess);
  ASSERT_EQ(this->registry_->OpenKey(RootKey::kLocalMachine, "SOFTWARE\\tarvel global",
                                     kKeyAllAccess, &key),
            kSuccess);
  EXPECT_EQ(this->registry_->CloseKey(key), kSuccess);
}

TYPED_TEST(RegistryContractTest, SizeQueryThenDataQuery) {
  KeyHandle key = this->OpenProductKey();
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  EXPECT_EQ(this->registry_->QueryValue(key, "drive", &type, nullptr, &size), kSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(this->Data(key, "Drive", &type), std::string("C:\0", 3));
  EXPECT_EQ(this->Data(key, "Count", &type), std::string("*\0\0\0", 4));
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(this->registry_->QueryValue(key, "Missing", &type, nullptr, &size), kFileNotFound);
}

TYPED_TEST(RegistryContractTest, ASmallBufferGetsMoreDataAndTheNeededSize) {
  KeyHandle key = this->OpenProductKey();
  std::uint8_t buffer[2];
  std::uint32_t size = sizeof buffer;
  std::uint32_t type = 0;
  EXPECT_EQ(this->registry_->QueryValue(key, "Drive", &type, buffer, &size), kMoreData);
  EXPECT_EQ(size, 3u);
}

TYPED_TEST(RegistryContractTest, SetValueIsSeenAtOnceAndByALaterOpen) {
  KeyHandle key = this->OpenProductKey();
  const std::string text("F:\\KOVA32", 10);
  ASSERT_EQ(this->registry_->SetValue(key, "drive", kRegSz,
                                      reinterpret_cast<const std::uint8_t*>(text.data()), 10),
            kSuccess);
  ASSERT_EQ(
      this->registry_->SetValue(key, "New", kRegSz, reinterpret_cast<const std::uint8_t*>(""), 1),
      kSuccess);
  std::uint32_t type = 0;
  EXPECT_EQ(this->Data(key, "Drive", &type), text);
  EXPECT_EQ(this->registry_->FlushKey(key), kSuccess);
  EXPECT_EQ(this->registry_->CloseKey(key), kSuccess);

  KeyHandle again = this->OpenProductKey();
  EXPECT_EQ(this->Data(again, "DRIVE", &type), text);
  EXPECT_EQ(this->Data(again, "new", &type), std::string(1, '\0'));
  EXPECT_EQ(this->Data(again, "Blob", &type), "\x01\x02");
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(this->Data(again, "Count", &type), std::string("*\0\0\0", 4));
}

TYPED_TEST(RegistryContractTest, AClosedHandleIsInvalid) {
  KeyHandle key = this->OpenProductKey();
  EXPECT_EQ(this->registry_->CloseKey(key), kSuccess);
  std::uint32_t size = 0;
  EXPECT_EQ(this->registry_->QueryValue(key, "Drive", nullptr, nullptr, &size), kInvalidHandle);
  EXPECT_EQ(this->registry_->CloseKey(key), kInvalidHandle);
}

}  // namespace
}  // namespace vendrel::platform
