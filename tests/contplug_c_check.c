/* Compiled as C, never as C++: a host written in C must be able to read
   the interface header as it is. */
#include <stddef.h>

#include "ContPlug.h"

_Static_assert(sizeof(ContPlugChar) == 2, "host paths are UTF-16");

typedef int(CONTPLUG_CALL* GetSupportedFieldFn)(int, char*, char*, int);
typedef int(CONTPLUG_CALL* GetValueFn)(char*, int, int, void*, int, int);
typedef int(CONTPLUG_CALL* GetValueWFn)(const ContPlugChar*, int, int, void*, int, int);

/* Each export taken as a pointer of the type a C host would declare. */
int ContPlugCCheck(void);
int ContPlugCCheck(void) {
  const GetSupportedFieldFn getField = ContentGetSupportedField;
  const GetValueFn getValue = ContentGetValue;
  const GetValueWFn getValueW = ContentGetValueW;
  const int codes[] = {FT_MULTIPLE_CHOICE, FT_NO_MORE_FIELDS, FT_NO_SUCH_FIELD, FT_FIELD_EMPTY};
  return (getField != NULL) + (getValue != NULL) + (getValueW != NULL) +
         (int)(sizeof codes / sizeof codes[0]);
}
