// Both fields of a regular file from one open, one size query and one read,
// by the probes' own rules on slices of that read. charsift answers so; the
// module keeps its probe-by-probe opens, which the host's contract describes.
#pragma once

#include <cstddef>
#include <vector>

#include "Charsift.h"

struct SingleOpenAnswer {
  const char* type = nullptr;     // set when asked for
  const char* encoding = nullptr; // set when asked for
};

// The answers the module's exports give for path under the settings in
// force, or false when the path is no regular file that opens (a folder, a
// drive root, a pattern, a device, a failure): the exports answer those.
bool AnswerBySingleOpen(const WideString& path, bool wantType, bool wantEncoding,
                        SingleOpenAnswer& answer);

// The two halves of that, for a host that reads ahead of the work: the bytes
// to read from the start of a file for the fields asked, under the settings
// in force (a file's size may cut them);
std::size_t SampleSize(bool wantEncoding);
// the read itself, into buffer (grown as needed), with false where
// AnswerBySingleOpen gives false; empty: the file's size is 0;
bool ReadSample(const WideString& path, std::size_t size, std::vector<BYTE>& buffer, DWORD& got,
                bool& empty);
// and the answers from the got bytes read, of a sample that size or the
// whole file. bytes[got] must be writable: the UTF-8 walk ends at a zero there.
void AnswerFromSample(BYTE* bytes, DWORD got, bool empty, bool wantType, bool wantEncoding,
                      SingleOpenAnswer& answer);
