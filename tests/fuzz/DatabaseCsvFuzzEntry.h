// One fuzz input through the database CSV reader, the way the CSV import command uses it: a
// counting pass, the type grown to the rows, a storing pass. Shared by the libFuzzer target and
// the test that replays the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>

// Byte 0 is the first entry (0 to 15), byte 1 the row count asked for (0 means 1000); the rest is
// the file. Aborts when the two passes disagree on the rows, when more rows than asked for are
// taken, when an entry loses its field layout, or when the numbers read do not come back through
// an export and a second import.
int RunDatabaseCsvFuzzInput(const std::uint8_t* data, std::size_t size);
