// Placeholders while the file slot and the engines are written; each moves to its own file.
#include "flash/flash_programmer.h"

void FlashProgrammer::OnBrowseBurnFile() {}
void FlashProgrammer::OnBrowseDumpFile() {}
HRESULT FlashProgrammer::OpenFlashFile(bool) { return 0; }
ULONG FlashProgrammer::ReadFlashFile(std::uint8_t*, ULONG) { return 0; }
ULONG FlashProgrammer::WriteFlashFile(const std::uint8_t*, ULONG) { return 0; }
int FlashProgrammer::ReleaseFlashFile() { return 0; }
HRESULT FlashProgrammer::ReportFileError() { return 0; }
