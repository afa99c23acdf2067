/* The host's content-plug-in interface, as far as this module uses it:
   the field type and result codes, and the three exported functions.
   Plain C, so that a host written in any language can read it. */
#ifndef CHARSIFT_CONTPLUG_H
#define CHARSIFT_CONTPLUG_H

#ifdef _WIN32
#include <wchar.h>
/* Paths are wide strings; the callee removes its arguments (stdcall). */
typedef wchar_t ContPlugChar;
#define CONTPLUG_CALL __stdcall
#define CONTPLUG_EXPORT
#else
#ifndef __cplusplus
#include <uchar.h>
#endif
typedef char16_t ContPlugChar;
#define CONTPLUG_CALL
#define CONTPLUG_EXPORT __attribute__((visibility("default")))
#endif

/* Field type of both fields; also the result of a successful value query. */
#define FT_MULTIPLE_CHOICE 7
/* ContentGetSupportedField: the index is past the last field. */
#define FT_NO_MORE_FIELDS 0
/* ContentGetValueW: the field index names no field. */
#define FT_NO_SUCH_FIELD (-1)
/* ContentGetValueW: this file has no value for the field. */
#define FT_FIELD_EMPTY (-3)

#ifdef __cplusplus
extern "C" {
#endif

/* Describes field FieldIndex: its name into FieldName, its choices,
   separated by '|', into Units; both buffers hold maxlen bytes. */
CONTPLUG_EXPORT int CONTPLUG_CALL ContentGetSupportedField(int FieldIndex, char* FieldName,
                                                           char* Units, int maxlen);

/* The ANSI-path entry: always FT_FIELD_EMPTY; values come from the wide one. */
CONTPLUG_EXPORT int CONTPLUG_CALL ContentGetValue(char* FileName, int FieldIndex, int UnitIndex,
                                                  void* FieldValue, int maxlen, int flags);

/* The value of field FieldIndex for FileName, as an ANSI string into
   FieldValue (maxlen bytes). */
CONTPLUG_EXPORT int CONTPLUG_CALL ContentGetValueW(const ContPlugChar* FileName, int FieldIndex,
                                                   int UnitIndex, void* FieldValue, int maxlen,
                                                   int flags);

#ifdef __cplusplus
}
#endif

#endif /* CHARSIFT_CONTPLUG_H */
