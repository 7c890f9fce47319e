// Faults of the ZIP reader that fuzzing found, each pinned down by the
// smallest archive that shows it.
#include <gtest/gtest.h>

#include "dunzip/zip_reader.h"
#include "tests/dunzip/dunzip_test_support.h"
#include "tests/support/zip_builder.h"

namespace {

using dunzip_test::TMemorySink;

// An empty name without an extra field left the local header's name buffer
// without storage, and comparing it passed a null pointer to memcmp
// (undefined behaviour, reported by UBSan). Names with bytes above 0x7F must
// still compare equal with the central directory's.
TEST(ZipReaderFindings, LocalNameComparisonCopesWithEmptyAndHighByteNames) {
  for (const std::string &name : {std::string(), std::string("\x81"
                                                             "ber.txt")}) {
    SCOPED_TRACE("name of " + std::to_string(name.size()) + " bytes");
    const testing_support::TTestEntry entry(name, {'a', 'b', 'c'}, 0);
    std::vector<std::uint8_t> zip = testing_support::BuildZip({entry});

    dunzip_test::TOpened zipped(zip);
    ASSERT_EQ(zipped.Error, dunzip::TZipError::None);
    ASSERT_EQ(zipped.Entries.size(), 1u);
    TMemorySink sink;
    EXPECT_EQ(zipped.Reader.ExtractEntry(zipped.Entries[0], sink), dunzip::TZipError::None);
    EXPECT_EQ(sink.Bytes, entry.Data);
  }
}

} // namespace
