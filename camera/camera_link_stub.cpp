// Temporary: the link's operations before the real implementation lands. Every command fails.
#include "camera/camera_link.h"

#include "resources/resource_ids.h"

bool StatusRecord::parse(const uint8_t*, uint32_t, StatusRecord&) { return false; }
uint16_t bitRateCode(uint32_t) { return 0x0020; }
uint16_t EncodeLineSettings(int, int, int, int) { return 0x0011; }

LinkPort::~LinkPort() {}

CameraLink::CameraLink(int suppressed) : progressSuppressed(suppressed), buffers(new LinkBuffers) {}
CameraLink::~CameraLink() {
    delete buffers;
    destroyWindow();
}
HWND CameraLink::createWindow(HWND parent) { return createModeless(IDD_PROGRESS, parent); }
BOOL CameraLink::onInitDialog() { return TRUE; }
int CameraLink::startProgress(int, int, int) { return 0; }
int CameraLink::stepProgress(int) { return 1; }
void CameraLink::showProgress() {}
void CameraLink::hideProgress() {}
int CameraLink::SetIO(uint8_t, uint32_t, int, int, int, int, bool) { return 0; }
int CameraLink::GetIOCap(bool) { return 0; }
int CameraLink::GetStat(uint16_t, bool) { return 0; }
int CameraLink::SetDate(bool) { return 0; }
int CameraLink::GetImgInfo(uint16_t, uint16_t*, bool) { return 0; }
int CameraLink::GetThumb(uint16_t, bool) { return 0; }
int CameraLink::GetJpeg(uint16_t, uint32_t, bool) { return 0; }
int CameraLink::CancelTransfer(bool) { return 0; }
void CameraLink::WriteDump(const char*, const uint8_t*, uint32_t) {}
int CameraLink::lastResultCode() const { return -1; }
bool CameraLink::statusWord(uint32_t, uint16_t&) const { return false; }
bool CameraLink::statusRecord(StatusRecord&) const { return false; }
bool CameraLink::setStatusClock(uint8_t, uint8_t, uint8_t, uint8_t, uint8_t, uint8_t) { return false; }
int CameraLink::OpenPort(uint8_t, uint32_t) { return 0; }
int CameraLink::ClosePort() { return 1; }
int CameraLink::SetTimeouts(DWORD, DWORD) { return 0; }
int CameraLink::ConfigurePort(uint32_t, int, int, int, int) { return 0; }
int CameraLink::Transact(const uint8_t*, uint16_t, uint16_t, bool, LinkBuffer*, bool) { return 0; }
int CameraLink::SendRequest(const uint8_t*, uint32_t, bool) { return 0; }
int CameraLink::SendPacket(const uint8_t*, uint32_t, bool) { return 0; }
int CameraLink::ReceiveMessage(LinkBuffer&) { return 0; }
int CameraLink::SendEnqWaitAck() { return 0; }
int CameraLink::SendAck() { return 0; }
int CameraLink::SendNak() { return 0; }
int CameraLink::SendEot() { return 0; }
int CameraLink::ReadControlByte(uint8_t&) { return 0; }
int CameraLink::WaitAck() { return 0; }
