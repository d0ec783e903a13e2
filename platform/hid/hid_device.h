// The kernel object behind a HID device handle.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/hid/hid_transport.h"
#include "platform/hid/preparsed.h"
#include "platform/win/file_api.h"

namespace hidlibrary {

// Size of a handle's input-report queue, as Windows bounds it (HidD_SetNumInputBuffers).
inline constexpr ULONG kMinInputBuffers = 2;
inline constexpr ULONG kMaxInputBuffers = 512;
inline constexpr ULONG kDefaultInputBuffers = 32;

class DeviceObject final : public FileObject {
public:
    DeviceObject(std::unique_ptr<hidtransport::Connection> connection, DWORD access);

    DWORD Read(void* buffer, DWORD count, DWORD& done) override;
    DWORD Write(const void* buffer, DWORD count, DWORD& done) override;
    DWORD Flush() override;
    DWORD Size(std::uint64_t& size) override;

    hidtransport::Connection& Connection() { return *connection_; }
    DWORD Access() const { return access_; }

    // The device's input and feature report byte lengths, from its descriptor (cached).
    DWORD ReportLengths(USHORT& input, USHORT& feature);

    // Bytes the last input or feature request placed into the caller's buffer.
    void SetLastAnswerLength(ULONG length) { lastAnswerLength_ = length; }
    ULONG LastAnswerLength() const { return lastAnswerLength_; }
    // Kept per handle, as on Windows; every handle starts with kDefaultInputBuffers.
    ULONG NumInputBuffers() const { return numInputBuffers_.load(); }
    void SetNumInputBuffers(ULONG count) { numInputBuffers_.store(count); }

private:
    std::unique_ptr<hidtransport::Connection> connection_;
    DWORD access_;
    std::mutex lengthsLock_;
    std::atomic<bool> lengthsKnown_{false};  // set after the lengths, which never change then
    USHORT inputLength_ = 0;
    USHORT featureLength_ = 0;
    std::atomic<ULONG> lastAnswerLength_{0};
    std::atomic<ULONG> numInputBuffers_{kDefaultInputBuffers};
};

std::shared_ptr<DeviceObject> LookupDevice(HANDLE handle);

// The preparsed data blocks HidD_GetPreparsedData handed out and not yet freed.
void TrackPreparsed(hidparse::PreparsedData* data);
std::unique_ptr<hidparse::PreparsedData> UntrackPreparsed(PHIDP_PREPARSED_DATA handle);

// Registered once by EnsureRegistered; providers.cpp and hid_module.cpp.
void RegisterBuiltInProviders();
void RegisterHidModule();

}  // namespace hidlibrary
