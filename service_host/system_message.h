#pragma once

#include <windows.h>

// The system's message text for an error code, as FormatMessageA gives it
// (its line end included), freed when the owner goes. text() is null when
// the system has no text for the code. insertsFlag: what becomes of inserts
// such as "%1" in the text (kept as they are unless told otherwise).
class SystemMessage {
 public:
  explicit SystemMessage(DWORD code, DWORD insertsFlag = FORMAT_MESSAGE_IGNORE_INSERTS);
  ~SystemMessage();
  SystemMessage(const SystemMessage&) = delete;
  SystemMessage& operator=(const SystemMessage&) = delete;

  const char* text() const { return text_; }

 private:
  char* text_ = nullptr;
};
