// The 359-byte record of the product's company file. The stamp reads the
// Name and changes the Version; every other byte is the product's own.
#ifndef VENDREL_COMPANY_COMPANY_RECORD_H_
#define VENDREL_COMPANY_COMPANY_RECORD_H_

#include <array>
#include <cstddef>
#include <string>

namespace vendrel {

constexpr std::size_t kRecordSize = 359;
constexpr std::size_t kVersionOffset = 122;  // length byte, then 4 characters
constexpr std::size_t kVersionMax = 4;

using CompanyRecord = std::array<unsigned char, kRecordSize>;

// The Name, its length byte taken as stored even where the text runs over
// the fields behind it.
inline std::string RecordName(const CompanyRecord& record) {
  return std::string(reinterpret_cast<const char*>(record.data()) + 1, record[0]);
}

// Writes the stamp (at most kVersionMax bytes) into the Version field; the
// Version bytes past the stamp keep what they held.
inline void StampRecord(CompanyRecord& record, const std::string& stamp) {
  record[kVersionOffset] = static_cast<unsigned char>(stamp.size());
  for (std::size_t i = 0; i < stamp.size(); ++i) {
    record[kVersionOffset + 1 + i] = static_cast<unsigned char>(stamp[i]);
  }
}

}  // namespace vendrel

#endif  // VENDREL_COMPANY_COMPANY_RECORD_H_
