#include "echo_service.h"
namespace nodrel::platform {
EchoHandle IcmpCreateFile() { return 1; }
EchoHandle IcmpCreateFileOfKind(EchoSocketKind) { return 1; }
EchoSocketKind IcmpSocketKind(EchoHandle) { return EchoSocketKind::Raw; }
bool IcmpCloseHandle(EchoHandle) { return true; }
uint32_t IcmpSendEcho(EchoHandle, uint32_t, const void*, uint16_t, const IP_OPTION_INFORMATION*, void*, uint32_t, uint32_t) { return 0; }
uint32_t GetLastError() { return 0; }
}
