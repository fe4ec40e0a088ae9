// Which directory a path leads to, for telling a link that loops back.
#include "platform.h"

// A directory opens only with backup semantics; no access right is needed
// to read its volume and file index.  The open follows junctions and
// symbolic links to their target, as the enumeration does.
int directory_identity(const char *path, DirectoryIdentity *identity)
{
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION information;
    BOOL known = GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    if (!known) return 0;
    identity->volume = information.dwVolumeSerialNumber;
    identity->index = ((uint64_t)information.nFileIndexHigh << 32) | information.nFileIndexLow;
    return 1;
}
