#include "fake_echo_platform.h"

#include <cstring>

#include "name_service.h"

namespace nodrel::testing {

namespace {

// The library entries are plain functions; they reach the one fake alive at a time through this.
FakeEchoPlatform* current = nullptr;
// Like the real service's, per thread.
thread_local uint32_t lastStatus = platform::IP_SUCCESS;

platform::EchoHandle CreateFile() {
    current->log.push_back("create");
    return 7;
}

platform::EchoHandle FailingCreateFile() {
    return platform::INVALID_ECHO_HANDLE;
}

bool CloseHandle(platform::EchoHandle) {
    current->log.push_back("close");
    return true;
}

platform::EchoHandle CreateFile6() {
    current->log.push_back("create6");
    return 8;
}

uint32_t Send(const platform::IpAddress& destination, const void* data, uint16_t size,
              const platform::IP_OPTION_INFORMATION* options, void* reply, uint32_t replySize,
              uint32_t timeout) {
    FakeEchoPlatform& fake = *current;
    ++fake.sends;
    fake.lastSend = {platform::AddressText(destination),
                     std::string(static_cast<const char*>(data), size),
                     size,
                     *options,
                     replySize,
                     timeout};
    platform::ICMP_ECHO_REPLY header{};
    header.Address = destination.ipv4;
    header.Address6 = destination.ipv6;
    header.Status = fake.status;
    lastStatus = header.Status;
    std::memcpy(reply, &header, sizeof header);
    return fake.replies;
}

uint32_t SendEcho(platform::EchoHandle, uint32_t destination, const void* data, uint16_t size,
                  const platform::IP_OPTION_INFORMATION* options, void* reply, uint32_t replySize,
                  uint32_t timeout) {
    return Send(platform::IpAddress::FromIpv4(destination), data, size, options, reply, replySize,
                timeout);
}

uint32_t SendEcho6(platform::EchoHandle, const sockaddr_in6& destination, const void* data,
                   uint16_t size, const platform::IP_OPTION_INFORMATION* options, void* reply,
                   uint32_t replySize, uint32_t timeout) {
    return Send(platform::FromSocketAddress(destination), data, size, options, reply, replySize,
                timeout);
}

}  // namespace

FakeEchoPlatform::FakeEchoPlatform(Failure failure)
    : FFailure(failure), FLibrary{&CreateFile, &CloseHandle, &SendEcho, &CreateFile6, &SendEcho6} {
    if (failure == Failure::Entry) FLibrary.IcmpSendEcho = nullptr;
    if (failure == Failure::Handle) FLibrary.IcmpCreateFile = &FailingCreateFile;
    current = this;
}

FakeEchoPlatform::~FakeEchoPlatform() {
    current = nullptr;
}

int FakeEchoPlatform::StartSocketLayer() {
    log.push_back("start");
    return FFailure == Failure::SocketLayer ? 10091 : 0;
}

void FakeEchoPlatform::StopSocketLayer() {
    log.push_back("stop");
}

const platform::EchoLibrary* FakeEchoPlatform::LoadEchoLibrary() {
    if (FFailure == Failure::Library) return nullptr;
    log.push_back("load");
    return &FLibrary;
}

void FakeEchoPlatform::FreeEchoLibrary(const platform::EchoLibrary*) {
    log.push_back("free");
}

uint32_t FakeEchoPlatform::GetLastError() {
    return lastStatus;
}

uint16_t FakeEchoPlatform::ResolveHost(const char* name, platform::IpAddress& address) {
    return resolver ? resolver(name, address) : platform::ResolveHost(name, address);
}

int64_t FakeEchoPlatform::MonotonicMilliseconds() {
    return now;
}

}  // namespace nodrel::testing
