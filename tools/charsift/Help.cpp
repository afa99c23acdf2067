// The usage and --help texts, kept in step with docs/charsift.1.
#include "Help.h"

#include <cstdio>

#include "ConvertPlatform.h"
#include "ExitStatus.h"
#include "Platform.h"
#include "Version.h"

namespace charsift::cli {

namespace {

const char* const kUsage =
    "usage: charsift [OPTION]... PATH...\n"
    "       charsift [OPTION]... --files-from FILE [PATH]...\n"
    "       charsift --explain [-rL] [--module PATH] [--files-from FILE] PATH...\n"
    "       charsift --check-settings [--module PATH]\n"
    "       charsift --to-utf8 (--in-place | --output-dir DIR) [OPTION]... PATH...\n"
    "       charsift --version | --help\n";

// The help, cut where --module's default is named: each system words it in
// kModuleBesideSelfHelp.
const char* const kHelpBeforeDefault =
    "Prints the Type and Encoding that the Charsift module gives each PATH, one\n"
    "row a path, as soon as it is decided. With -r a folder's entries follow it,\n"
    "sorted by name, depth first; the order does not change with -j.\n"
    "\n"
    "  -r, --recursive         also every entry of a folder, the whole tree\n"
    "  -L, --follow            go into links to folders met in the walk (a loop is\n"
    "                          told, never followed); a link named as a PATH is\n"
    "                          always followed\n"
    "  -j, --jobs N            work on N files' bytes at once, 1 to 256 (default:\n"
    "                          the processors this process may use)\n"
    "      --depth N           read N files at once, 1 to 256, apart from -j: the\n"
    "                          disk answers many requests sooner than few\n"
    "                          (default: 128)\n"
    "      --files-from FILE   also the paths listed in FILE, one a line; a FILE\n"
    "                          of - is standard input (repeatable: read in order)\n"
    "  -0, --null              the paths in FILE end with NUL (find -print0)\n"
    "      --format FORMAT     table: aligned, with a header (the default)\n"
    "                          tsv: no header; in names and values \\t \\n \\r \\\\\n"
    "                            stand for tab, newline, carriage return, backslash\n"
    "                          json: one array; jsonl: one object a line\n"
    "      --field NAME        only this field: Type or Encoding (repeatable)\n"
    "      --where FIELD=VALUE only rows whose FIELD is VALUE, in any letter case\n"
    "                          (repeatable: values of one field are alternatives,\n"
    "                          different fields must all hold),\n"
    "                          e.g. --where 'Encoding=DOS Ru'\n"
    "      --summary           after the rows, how many files got each value, and\n"
    "                          how many paths were not read (in tsv each summary\n"
    "                          line starts with #)\n"
    "      --summary-only      the summary alone\n"
    "      --progress          the progress line on standard error, even on a pipe\n"
    "      --no-progress       no progress line (by default shown on a terminal)\n"
    "      --module PATH       ask this module's exports for every answer, a PATH\n"
    "                          without a slash in this folder (default: a regular\n"
    "                          file's by the detection code built into charsift,\n"
    "                          from one open, under the settings of the module\n"
    "                          ";
const char* const kHelpAfterDefault =
    "      --settings FILE     without --module: these settings instead of the\n"
    "                          module's (a FILE that is none is a usage error)\n"
    "      --explain           the steps of the Encoding chain for each PATH (with\n"
    "                          -r, -L, --files-from), after any settings value\n"
    "                          the module ignores; no option that shapes rows\n"
    "      --check-settings    where the settings are looked for, and each value\n"
    "                          the module ignores, with the rule it breaks, or\n"
    "                          reads wrapped round (0xFFFFFFFF as -1)\n"
    "      --to-utf8           convert each PATH's text to UTF-8 from the code page\n"
    "                          its Encoding names, never losing a byte: the whole\n"
    "                          file is checked first, and a file that would not\n"
    "                          convert back byte for byte is refused; a row a\n"
    "                          path says what was done (converted, already UTF-8,\n"
    "                          skipped, refused) and why\n"
    "      --in-place          replace each file by its conversion, in one step\n"
    "      --output-dir DIR    write each conversion under DIR, at the place of the\n"
    "                          PATH named in its folder; never over a file\n"
    "      --dry-run           say what would be done, change nothing\n"
    "      --backup[=SUFFIX]   with --in-place, keep the original as NAME.orig (or\n"
    "                          NAME plus SUFFIX); an existing backup is never\n"
    "                          overwritten\n"
    "      --from CODEPAGE     read every file in this code page (an iconv name:\n"
    "                          koi8-r, cp1250, iso-8859-7), whatever its label\n"
    "      --ansi-codepage N   the code page of ANSI (default: %u); set it for\n"
    "                          text that is not Western European\n"
    "      --dos-codepage N    the code page of DOS (default: 437)\n"
    "  -h, --help              this help\n"
    "      --version           the version\n"
    "      --                  the arguments after it are paths\n"
    "\n"
    "A path that cannot be read is still a row, with the module's answer, and\n"
    "standard error says why, once per path.\n"
    "\n"
    "Exit status: 0 all paths read, 1 some path missing or unreadable (or the\n"
    "output not written), 2 usage error, 3 module not loaded, 4 --explain\n"
    "differs from the module's answer. With --to-utf8: 0 every file converted,\n"
    "already UTF-8 or skipped as no text, 1 some file refused.\n";

} // namespace

int Usage(const std::string& message) {
  std::fprintf(stderr, "charsift: %s\n%s", message.c_str(), kUsage);
  return kExitUsage;
}

void PrintHelp() {
  std::printf("%s\n%s%s", kUsage, kHelpBeforeDefault, kModuleBesideSelfHelp);
  std::printf(kHelpAfterDefault, DefaultAnsiCodePage());
}

void PrintVersion() { std::printf("charsift %s\n", CHARSIFT_VERSION); }

} // namespace charsift::cli
