// Kernel file services: CreateFileW, ReadFile, WriteFile, FlushFileBuffers, GetFileSize.
// Regular files map onto POSIX files; device paths are handed to the opener that the
// HID library registers, so a device handle is read and written like a file.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "platform/win/handles.h"

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

// An object that a file handle can stand for. Members answer a Win32 error number.
class FileObject : public KernelObject {
public:
    virtual DWORD Read(void* buffer, DWORD count, DWORD& done) = 0;
    virtual DWORD Write(const void* buffer, DWORD count, DWORD& done) = 0;
    virtual DWORD Flush() = 0;
    virtual DWORD StartWriteback() { return Flush(); }
    virtual DWORD Size(std::uint64_t& size) = 0;
};

// Decides whether a path names a device and opens it. Answers false when the path is
// not a device path (CreateFileW then treats it as a file); true with `error` and
// `object` set when it is one.
using DeviceOpener = std::function<bool(std::u16string_view path, DWORD access, DWORD share, DWORD flags,
                                        DWORD& error, std::shared_ptr<FileObject>& object)>;
void RegisterDeviceOpener(DeviceOpener opener);

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD numberOfBytesToRead, LPDWORD numberOfBytesRead,
              LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD numberOfBytesToWrite, LPDWORD numberOfBytesWritten,
               LPOVERLAPPED overlapped);
BOOL FlushFileBuffers(HANDLE file);
// Extension beyond the Windows API: starts writing the file's data to its disk and returns
// without waiting for the disk (FlushFileBuffers waits). A file written in many small
// pieces is handed on this way after each one, and flushed for good once at its end.
BOOL FileExt_StartWriteback(HANDLE file);
DWORD GetFileSize(HANDLE file, LPDWORD fileSizeHigh);

namespace file_testing {
// Makes the FlushFileBuffers that follows the next `skip` ones fail (once) with `error`,
// as a disk that cannot take the data would; -1 disarms.
void FailFlushAfter(int skip, DWORD error);
}
