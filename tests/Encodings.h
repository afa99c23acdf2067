// Test-side encoders: the Russian prose of tests/data in the byte forms the
// probes tell apart, and CP437 box-drawing tables.
#pragma once

#include <string>
#include <vector>

#include "TestSupport.h"

namespace testing_support {

// Only ASCII and the Cyrillic letters А to я, Ё and ё map; any other
// character throws std::invalid_argument, so a test never encodes by guess.
Bytes ToWindows1251(const std::string& utf8);
Bytes ToCp866(const std::string& utf8);
Bytes ToKoi8r(const std::string& utf8);
// Any code point, surrogate pairs above U+FFFF; FF FE or FE FF first when
// withMark is set.
Bytes ToUtf16(const std::string& utf8, bool bigEndian, bool withMark);

// A table of single-byte cells framed in CP437 box-drawing characters
// (single or double lines), cells padded to their column's width, CR LF
// line ends.
Bytes BoxTable437(const std::vector<std::vector<std::string>>& rows, bool doubleLines);

// tests/data/russian.txt as UTF-8: four paragraphs, Ё and ё included.
std::string RussianProse();

} // namespace testing_support
