#include "system_message.h"

SystemMessage::SystemMessage(DWORD code, DWORD insertsFlag) {
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | insertsFlag, nullptr,
                                      code, 0, reinterpret_cast<LPSTR>(&text_), 0, nullptr);
  if (length == 0 && text_ != nullptr) {
    LocalFree(text_);
    text_ = nullptr;
  }
}

SystemMessage::~SystemMessage() {
  if (text_ != nullptr) LocalFree(text_);
}
