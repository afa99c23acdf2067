// The host's calls that read alike on Linux and Windows.
#include "Platform.h"

#include <cerrno>
#include <cstring>

namespace charsift::cli {

std::string ErrnoReason(int error) {
  switch (error) {
  case ENOENT:
    return "no such file or folder";
  case ENOTDIR:
    return "not a folder";
  case EACCES:
  case EPERM:
    return "permission denied";
  case EISDIR:
    return "is a folder";
  case ESPIPE:
    return "takes no read from its start (a stream, not a file)";
  case EINVAL:
    return "refused by the system (invalid argument)";
  case ENAMETOOLONG:
    return "name too long";
  default:
    return std::strerror(error);
  }
}

} // namespace charsift::cli
