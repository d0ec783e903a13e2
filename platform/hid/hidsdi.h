// HID device interface in the shape of the Windows HID class library (hidsdi.h).
// Every function answers TRUE/FALSE and leaves a Win32 number in GetLastError().
#pragma once

#include "platform/hid/hidpi.h"

struct HIDD_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
};
using PHIDD_ATTRIBUTES = HIDD_ATTRIBUTES*;

// {4D1E55B2-F16F-11CF-88CB-001111000030}, the HID device interface class.
void HidD_GetHidGuid(LPGUID hidGuid);
BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes);
BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData);
BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData);

// Report transfers. The length handed to HidD_GetInputReport/HidD_GetFeature reaches
// the device unchanged; no more than the device's report length of that type (from its
// descriptor) is ever written into the caller's buffer.
BOOLEAN HidD_SetOutputReport(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength);
BOOLEAN HidD_GetInputReport(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength);
BOOLEAN HidD_SetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength);
BOOLEAN HidD_GetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength);

// Drops the input reports queued for the handle.
BOOLEAN HidD_FlushQueue(HANDLE device);

// Our extension, with no Windows counterpart: how many bytes the last successful
// HidD_GetInputReport or HidD_GetFeature on this handle placed into the caller's buffer
// (a device may answer with fewer bytes than its report length). 0 for a bad handle.
ULONG HidExt_GetLastAnswerLength(HANDLE device);

// Our extension: which plug-in of its device the handle reaches, as enumeration reports an
// interface's plug identity (empty when the transport cannot tell). Copied with its
// terminator, or, when the buffer is too small, nothing (ERROR_INSUFFICIENT_BUFFER).
BOOLEAN HidExt_GetPlugIdentity(HANDLE device, PVOID buffer, ULONG bufferLength);

// Our extension: exclusive use of a device across handles and processes, so that two
// programs never interleave their frames. Take succeeds when the device is free or already
// claimed through this handle (claims do not nest: one Release frees it); otherwise FALSE
// with ERROR_BUSY and the holder's process id in *holderPid (0 when unknown). Release
// frees a claim this handle holds (TRUE when it holds none). Query takes nothing: TRUE,
// with the process id of a claim held through another handle, or 0 when none is.
// A claim ends when its handle is closed or its process ends.
enum class HidExtClaim : ULONG { Take = 0, Release = 1, Query = 2 };
BOOLEAN HidExt_ClaimDevice(HANDLE device, HidExtClaim op, PULONG holderPid);

// Input-report queue size of one handle: 2..512, 32 when opened. A number outside the
// bounds fails with ERROR_INVALID_PARAMETER and leaves the size as it was.
BOOLEAN HidD_GetNumInputBuffers(HANDLE device, PULONG numberBuffers);
BOOLEAN HidD_SetNumInputBuffers(HANDLE device, ULONG numberBuffers);

// Device strings, UTF-16 and NUL-terminated. bufferLength counts bytes (an odd last byte
// is never written). A buffer that cannot hold the whole text with its terminator gets
// nothing: FALSE with ERROR_INSUFFICIENT_BUFFER, the buffer untouched. An absent string
// fails with the transport's error.
BOOLEAN HidD_GetManufacturerString(HANDLE device, PVOID buffer, ULONG bufferLength);
BOOLEAN HidD_GetProductString(HANDLE device, PVOID buffer, ULONG bufferLength);
BOOLEAN HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG bufferLength);
BOOLEAN HidD_GetIndexedString(HANDLE device, ULONG stringIndex, PVOID buffer, ULONG bufferLength);

// Not available on Linux: FALSE with ERROR_INVALID_FUNCTION for an open device.
BOOLEAN HidD_GetPhysicalDescriptor(HANDLE device, PVOID buffer, ULONG bufferLength);
BOOLEAN HidD_GetMsGenreDescriptor(HANDLE device, PVOID buffer, ULONG bufferLength);
