// The one table from the C runtime's errno values to the library's error numbers, for
// every platform (on Windows only the few runtime calls the library makes need it).
#include <cerrno>

#include "os/os.h"

namespace vela::os {

uint32_t error_from_errno(int e) {
  switch (e) {
    case 0: return err_success;
    case ENOENT: return err_file_not_found;
    case ENOTDIR: return err_path_not_found;
    case EMFILE:
    case ENFILE: return err_too_many_open_files;
    case EACCES:
    case EPERM:
    case EISDIR: return err_access_denied;
    case EBADF: return err_invalid_handle;
    case ENOMEM: return err_not_enough_memory;
    case EROFS: return err_write_protect;
    case EWOULDBLOCK: return err_sharing_violation;  // a lock held by another process
    case EEXIST: return err_file_exists;
    case EINVAL: return err_invalid_parameter;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return err_disk_full;
    case ENAMETOOLONG: return err_filename_too_long;
    case EIO: return err_write_fault;
    case EFBIG: return err_file_too_large;
    case EPIPE: return err_broken_pipe;
    case EILSEQ: return err_no_unicode_translation;
    case ENOTSUP: return err_not_supported;
    case ECANCELED: return err_cancelled;
    default: return err_invalid_function;
  }
}

} // namespace vela::os
