// HidD_* functions over an open transport connection, and the device opener that makes
// CreateFileW hand out HID device handles.
#include "platform/hid/hid_device.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/hid/hid_library.h"
#include "platform/hid/hidsdi.h"
#include "platform/hid/preparsed.h"
#include "platform/win/file_api.h"
#include "platform/win/module.h"
#include "platform/win/text.h"
#include "platform/win/win_error.h"

namespace hidlibrary {

DeviceObject::DeviceObject(std::unique_ptr<hidtransport::Connection> connection, DWORD access)
    : connection_(std::move(connection)), access_(access) {}

DWORD DeviceObject::Read(void* buffer, DWORD count, DWORD& done) {
    done = 0;
    std::vector<std::uint8_t> report;
    DWORD error = connection_->ReadReport(report, count);
    if (error != ERROR_SUCCESS) return error;
    done = static_cast<DWORD>(std::min<std::size_t>(report.size(), count));
    if (done) std::memcpy(buffer, report.data(), done);
    return ERROR_SUCCESS;
}

DWORD DeviceObject::Write(const void* buffer, DWORD count, DWORD& done) {
    done = 0;
    DWORD error = connection_->WriteReport({static_cast<const std::uint8_t*>(buffer), count});
    if (error == ERROR_SUCCESS) done = count;
    return error;
}

DWORD DeviceObject::Flush() { return ERROR_SUCCESS; }

DWORD DeviceObject::Size(std::uint64_t& size) {
    size = 0;
    return ERROR_INVALID_FUNCTION;
}

DWORD DeviceObject::ReportLengths(USHORT& input, USHORT& feature) {
    if (lengthsKnown_.load(std::memory_order_acquire)) {  // known once, asked at every report
        input = inputLength_;
        feature = featureLength_;
        return ERROR_SUCCESS;
    }
    std::lock_guard guard(lengthsLock_);
    if (!lengthsKnown_) {
        std::vector<std::uint8_t> descriptor;
        DWORD error = connection_->GetReportDescriptor(descriptor);
        if (error != ERROR_SUCCESS) return error;
        std::unique_ptr<hidparse::PreparsedData> parsed;
        if (hidparse::ParseReportDescriptor(descriptor, parsed) != HIDP_STATUS_SUCCESS) return ERROR_INVALID_DATA;
        inputLength_ = parsed->caps.InputReportByteLength;
        featureLength_ = parsed->caps.FeatureReportByteLength;
        lengthsKnown_ = true;
    }
    input = inputLength_;
    feature = featureLength_;
    return ERROR_SUCCESS;
}

std::shared_ptr<DeviceObject> LookupDevice(HANDLE handle) { return LookupHandleAs<DeviceObject>(handle); }

namespace {

bool OpenDevicePath(std::u16string_view path, DWORD access, DWORD share, DWORD, DWORD& error,
                    std::shared_ptr<FileObject>& object) {
    for (auto& provider : hidtransport::Providers()) {
        if (!provider->Owns(path)) continue;
        std::unique_ptr<hidtransport::Connection> connection;
        error = provider->Open(path, access, share, connection);
        if (error == ERROR_SUCCESS) object = std::make_shared<DeviceObject>(std::move(connection), access);
        return true;
    }
    return false;
}

BOOLEAN Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Receives an answer and copies at most the device's report length of that type (and
// never more than the requested length) into the caller's buffer, from byte 0 on.
BOOLEAN GetReport(HANDLE device, PVOID buffer, ULONG length, bool feature) {
    auto object = LookupDevice(device);
    if (!object) return FALSE;
    if (buffer == nullptr || length == 0) return Fail(ERROR_INVALID_USER_BUFFER);
    USHORT inputLength = 0, featureLength = 0;
    DWORD error = object->ReportLengths(inputLength, featureLength);
    if (error != ERROR_SUCCESS) return Fail(error);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t capacity = std::min<std::size_t>(length, feature ? featureLength : inputLength);
    if (capacity == 0) return Fail(ERROR_INVALID_PARAMETER);  // the device has no such report
    thread_local std::vector<std::uint8_t> answer;  // its buffer kept from one call to the next
    answer.clear();
    error = feature ? object->Connection().GetFeature(bytes[0], length, answer)
                    : object->Connection().GetInputReport(bytes[0], length, answer);
    if (error != ERROR_SUCCESS) return Fail(error);
    std::size_t placed = std::min(answer.size(), capacity);
    if (placed) std::memcpy(bytes, answer.data(), placed);  // an empty answer has no data() to copy
    object->SetLastAnswerLength(static_cast<ULONG>(placed));
    return TRUE;
}

BOOLEAN SetReport(HANDLE device, PVOID buffer, ULONG length, bool feature) {
    auto object = LookupDevice(device);
    if (!object) return FALSE;
    if (buffer == nullptr || length == 0) return Fail(ERROR_INVALID_USER_BUFFER);
    std::span<const std::uint8_t> report(static_cast<const std::uint8_t*>(buffer), length);
    DWORD error = feature ? object->Connection().SetFeature(report) : object->Connection().SetOutputReport(report);
    if (error != ERROR_SUCCESS) return Fail(error);
    return TRUE;
}

}  // namespace

namespace {
std::mutex preparsedLock;
std::set<hidparse::PreparsedData*>& LivePreparsed() {
    static std::set<hidparse::PreparsedData*> live;
    return live;
}
}  // namespace

void TrackPreparsed(hidparse::PreparsedData* data) {
    std::lock_guard guard(preparsedLock);
    LivePreparsed().insert(data);
}

std::unique_ptr<hidparse::PreparsedData> UntrackPreparsed(PHIDP_PREPARSED_DATA handle) {
    std::lock_guard guard(preparsedLock);
    auto* data = reinterpret_cast<hidparse::PreparsedData*>(handle);
    if (LivePreparsed().erase(data) == 0) return nullptr;
    return std::unique_ptr<hidparse::PreparsedData>(data);
}

void EnsureRegistered() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterBuiltInProviders();
        RegisterDeviceOpener(OpenDevicePath);
        RegisterHidModule();
    });
}

}  // namespace hidlibrary

using hidlibrary::EnsureRegistered;

void HidD_GetHidGuid(LPGUID hidGuid) {
    if (hidGuid == nullptr) return;
    *hidGuid = GUID{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
}

BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
    EnsureRegistered();
    auto object = hidlibrary::LookupDevice(device);
    if (!object) return FALSE;
    if (attributes == nullptr) return hidlibrary::Fail(ERROR_INVALID_USER_BUFFER);
    hidtransport::InterfaceInfo info;
    DWORD error = object->Connection().GetAttributes(info);
    if (error != ERROR_SUCCESS) return hidlibrary::Fail(error);
    attributes->Size = sizeof(HIDD_ATTRIBUTES);
    attributes->VendorID = info.vendorId;
    attributes->ProductID = info.productId;
    attributes->VersionNumber = info.versionNumber;
    return TRUE;
}

BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData) {
    EnsureRegistered();
    auto object = hidlibrary::LookupDevice(device);
    if (!object) return FALSE;
    if (preparsedData == nullptr) return hidlibrary::Fail(ERROR_INVALID_USER_BUFFER);
    std::vector<std::uint8_t> descriptor;
    DWORD error = object->Connection().GetReportDescriptor(descriptor);
    if (error != ERROR_SUCCESS) return hidlibrary::Fail(error);
    std::unique_ptr<hidparse::PreparsedData> parsed;
    if (hidparse::ParseReportDescriptor(descriptor, parsed) != HIDP_STATUS_SUCCESS || !parsed)
        return hidlibrary::Fail(ERROR_INVALID_DATA);
    *preparsedData = hidparse::ToHandle(parsed.get());
    hidlibrary::TrackPreparsed(parsed.release());
    return TRUE;
}

BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) {
    // Only blocks this library handed out, and not yet freed, are released: a second free
    // of the same block is refused without touching it.
    std::unique_ptr<hidparse::PreparsedData> owned = hidlibrary::UntrackPreparsed(preparsedData);
    if (!owned) return hidlibrary::Fail(ERROR_INVALID_PARAMETER);
    owned->magic = 0;
    return TRUE;
}

BOOLEAN HidD_SetOutputReport(HANDLE device, PVOID buffer, ULONG length) {
    return hidlibrary::SetReport(device, buffer, length, false);
}

BOOLEAN HidD_GetInputReport(HANDLE device, PVOID buffer, ULONG length) {
    return hidlibrary::GetReport(device, buffer, length, false);
}

BOOLEAN HidD_SetFeature(HANDLE device, PVOID buffer, ULONG length) {
    return hidlibrary::SetReport(device, buffer, length, true);
}

BOOLEAN HidD_GetFeature(HANDLE device, PVOID buffer, ULONG length) {
    return hidlibrary::GetReport(device, buffer, length, true);
}

BOOLEAN HidD_FlushQueue(HANDLE device) {
    auto object = hidlibrary::LookupDevice(device);
    if (!object) return FALSE;
    DWORD error = object->Connection().FlushQueue();
    if (error != ERROR_SUCCESS) return hidlibrary::Fail(error);
    return TRUE;
}

BOOLEAN HidExt_ClaimDevice(HANDLE device, HidExtClaim op, PULONG holderPid) {
    if (holderPid) *holderPid = 0;
    auto object = hidlibrary::LookupDevice(device);
    if (!object) return FALSE;
    std::uint32_t holder = 0;
    DWORD error = object->Connection().Claim(static_cast<hidtransport::ClaimOp>(op), holder);
    if (holderPid) *holderPid = holder;
    if (error != ERROR_SUCCESS) return hidlibrary::Fail(error);
    return TRUE;
}

ULONG HidExt_GetLastAnswerLength(HANDLE device) {
    auto object = hidlibrary::LookupDevice(device);
    return object ? object->LastAnswerLength() : 0;
}
