// The module's own operations behind the exports.
#pragma once

#include <string>

#include "VorFProc.h"

struct FieldRow {
  const char* name;
  int type;
  const char* choices;
};

// The rows of FieldTable, by the field index the host passes.
constexpr int kTypeField = 0;
constexpr int kEncodingField = 1;
extern const FieldRow FieldTable[2];

// The module instance whose path locates the settings file; set by the
// module entry before LoadSettings runs.
extern HMODULE ModuleInstance;

// Zero-fills maxlen bytes of dest, then copies src cut to maxlen-1
// characters; writes nothing for a maxlen of 0 or below.
void CopyToHostBuffer(char* dest, const char* src, int maxlen);

// The Encoding label of a path; "" for a folder.
const char* ClassifyEncoding(const WideString& path);

// modulePath with its extension (after the last '.' that follows every
// path delimiter) replaced by newExtension, or newExtension appended.
std::string ReplaceExtension(const std::string& modulePath, const std::string& newExtension);

// Reads the settings file beside the module; copies the example file into
// place first when only the example exists.
void LoadSettings();
void LoadSettingsForModule(const std::string& modulePath);
