// The answers every Registry gives. Each implementation instantiates the
// suite with an Impl that offers:
//   static constexpr const char* kKeyPath;  a key below HKEY_LOCAL_MACHINE
//   std::unique_ptr<Registry> Make();
// where Make leaves kKeyPath holding Drive = "C:" (REG_SZ), Count = 42
// (REG_DWORD) and Blob = 01 02 (REG_BINARY), and HKEY_CURRENT_USER without
// that key.
#ifndef VENDREL_TESTS_UNIT_CONTRACT_REGISTRY_CONTRACT_H_
#define VENDREL_TESTS_UNIT_CONTRACT_REGISTRY_CONTRACT_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/registry.h"
#include "support/result_printer.h"

namespace vendrel::platform {

inline std::string FlipCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

template <typename Impl>
class RegistryContract : public ::testing::Test {
 protected:
  void SetUp() override { registry_ = impl_.Make(); }

  KeyHandle OpenKey() {
    KeyHandle key = 0;
    EXPECT_EQ(registry_->OpenKey(RootKey::kLocalMachine, Impl::kKeyPath, kKeyAllAccess, &key),
              kSuccess);
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

TYPED_TEST_SUITE_P(RegistryContract);

TYPED_TEST_P(RegistryContract, OpensOnlyExistingKeysWhateverTheirCase) {
  KeyHandle key = 0;
  EXPECT_NE(
      this->registry_->OpenKey(RootKey::kCurrentUser, TypeParam::kKeyPath, kKeyAllAccess, &key),
      kSuccess);
  EXPECT_NE(this->registry_->OpenKey(RootKey::kLocalMachine, "Software\\No Such Vendrel Key",
                                     kKeyAllAccess, &key),
            kSuccess);
  ASSERT_EQ(this->registry_->OpenKey(RootKey::kLocalMachine, FlipCase(TypeParam::kKeyPath),
                                     kKeyAllAccess, &key),
            kSuccess);
  EXPECT_EQ(this->registry_->CloseKey(key), kSuccess);
}

TYPED_TEST_P(RegistryContract, SizeQueryThenDataQuery) {
  KeyHandle key = this->OpenKey();
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  EXPECT_EQ(this->registry_->QueryValue(key, "drive", &type, nullptr, &size), kSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(this->Data(key, "Drive", &type), std::string("C:\0", 3));
  EXPECT_EQ(this->Data(key, "Count", &type), std::string("*\0\0\0", 4));
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(this->registry_->QueryValue(key, "Missing", &type, nullptr, &size), kFileNotFound);
  EXPECT_EQ(this->registry_->CloseKey(key), kSuccess);
}

TYPED_TEST_P(RegistryContract, ASmallBufferGetsMoreDataAndTheNeededSize) {
  KeyHandle key = this->OpenKey();
  std::uint8_t buffer[2];
  std::uint32_t size = sizeof buffer;
  std::uint32_t type = 0;
  EXPECT_EQ(this->registry_->QueryValue(key, "Blob", &type, buffer, &size), kSuccess);
  size = 1;
  EXPECT_EQ(this->registry_->QueryValue(key, "Count", &type, buffer, &size), kMoreData);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(this->registry_->CloseKey(key), kSuccess);
}

TYPED_TEST_P(RegistryContract, SetValueIsSeenAtOnceAndByALaterOpen) {
  KeyHandle key = this->OpenKey();
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

  KeyHandle again = this->OpenKey();
  EXPECT_EQ(this->Data(again, "DRIVE", &type), text);
  EXPECT_EQ(this->Data(again, "new", &type), std::string(1, '\0'));
  EXPECT_EQ(this->Data(again, "Blob", &type), "\x01\x02");
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(this->Data(again, "Count", &type), std::string("*\0\0\0", 4));
  EXPECT_EQ(this->registry_->CloseKey(again), kSuccess);
}

TYPED_TEST_P(RegistryContract, AClosedHandleIsInvalid) {
  KeyHandle key = this->OpenKey();
  EXPECT_EQ(this->registry_->CloseKey(key), kSuccess);
  std::uint32_t size = 0;
  EXPECT_EQ(this->registry_->QueryValue(key, "Drive", nullptr, nullptr, &size), kInvalidHandle);
  EXPECT_EQ(this->registry_->CloseKey(key), kInvalidHandle);
}

REGISTER_TYPED_TEST_SUITE_P(RegistryContract, OpensOnlyExistingKeysWhateverTheirCase,
                            SizeQueryThenDataQuery, ASmallBufferGetsMoreDataAndTheNeededSize,
                            SetValueIsSeenAtOnceAndByALaterOpen, AClosedHandleIsInvalid);

}  // namespace vendrel::platform

#endif  // VENDREL_TESTS_UNIT_CONTRACT_REGISTRY_CONTRACT_H_
