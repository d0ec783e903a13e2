// HidD_* functions that describe an open device rather than move reports: its strings,
// its input-buffer count, and the descriptors Linux does not give out.
#include <cstring>

#include "platform/hid/hid_device.h"
#include "platform/hid/hid_library.h"
#include "platform/hid/hidsdi.h"
#include "platform/win/win_error.h"

namespace {

BOOLEAN Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

std::shared_ptr<hidlibrary::DeviceObject> Device(HANDLE handle) {
    hidlibrary::EnsureRegistered();
    return hidlibrary::LookupDevice(handle);  // null: last error ERROR_INVALID_HANDLE
}

// Copies the whole text and its terminator, or nothing. Windows may instead hand back a
// truncated text without terminator; a caller reading that as a string would run past
// the buffer, so we follow the documented rule that a short buffer receives nothing.
BOOLEAN PutText(const std::u16string& text, PVOID buffer, ULONG length) {
    std::size_t textBytes = text.size() * sizeof(WCHAR);
    if (std::size_t{length} < textBytes + sizeof(WCHAR)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    const WCHAR terminator = 0;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::memcpy(bytes, text.data(), textBytes);
    std::memcpy(bytes + textBytes, &terminator, sizeof terminator);
    return TRUE;
}

BOOLEAN GetString(HANDLE handle, hidtransport::StringKind kind, ULONG index, PVOID buffer, ULONG length) {
    auto object = Device(handle);
    if (!object) return FALSE;
    if (buffer == nullptr) return Fail(ERROR_INVALID_USER_BUFFER);
    std::u16string text;
    DWORD error = object->Connection().GetString(kind, index, text);
    if (error != ERROR_SUCCESS) return Fail(error);
    return PutText(text, buffer, length);
}

// Linux hands out neither a HID interface's physical descriptor set nor its Microsoft
// genre descriptor. Windows answers a request that no driver of the stack handles with
// STATUS_INVALID_DEVICE_REQUEST, which reaches GetLastError as ERROR_INVALID_FUNCTION.
BOOLEAN Unsupported(HANDLE handle) {
    if (!Device(handle)) return FALSE;
    return Fail(ERROR_INVALID_FUNCTION);
}

}  // namespace

BOOLEAN HidD_GetNumInputBuffers(HANDLE device, PULONG numberBuffers) {
    auto object = Device(device);
    if (!object) return FALSE;
    if (numberBuffers == nullptr) return Fail(ERROR_INVALID_USER_BUFFER);
    *numberBuffers = object->NumInputBuffers();
    return TRUE;
}

BOOLEAN HidD_SetNumInputBuffers(HANDLE device, ULONG numberBuffers) {
    auto object = Device(device);
    if (!object) return FALSE;
    if (numberBuffers < hidlibrary::kMinInputBuffers || numberBuffers > hidlibrary::kMaxInputBuffers)
        return Fail(ERROR_INVALID_PARAMETER);
    object->SetNumInputBuffers(numberBuffers);
    return TRUE;
}

BOOLEAN HidD_GetManufacturerString(HANDLE device, PVOID buffer, ULONG bufferLength) {
    return GetString(device, hidtransport::StringKind::Manufacturer, 0, buffer, bufferLength);
}

BOOLEAN HidD_GetProductString(HANDLE device, PVOID buffer, ULONG bufferLength) {
    return GetString(device, hidtransport::StringKind::Product, 0, buffer, bufferLength);
}

BOOLEAN HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG bufferLength) {
    return GetString(device, hidtransport::StringKind::SerialNumber, 0, buffer, bufferLength);
}

BOOLEAN HidD_GetIndexedString(HANDLE device, ULONG stringIndex, PVOID buffer, ULONG bufferLength) {
    return GetString(device, hidtransport::StringKind::Indexed, stringIndex, buffer, bufferLength);
}

BOOLEAN HidD_GetPhysicalDescriptor(HANDLE device, PVOID, ULONG) { return Unsupported(device); }

BOOLEAN HidD_GetMsGenreDescriptor(HANDLE device, PVOID, ULONG) { return Unsupported(device); }

BOOLEAN HidExt_GetPlugIdentity(HANDLE device, PVOID buffer, ULONG bufferLength) {
    auto object = Device(device);
    if (!object) return FALSE;
    if (buffer == nullptr) return Fail(ERROR_INVALID_USER_BUFFER);
    hidtransport::InterfaceInfo info;
    if (DWORD error = object->Connection().GetAttributes(info); error != ERROR_SUCCESS) return Fail(error);
    return PutText(info.plugId, buffer, bufferLength);
}
