// Modal message boxes without an owner window. The logic receives a
// MessageBoxes&, so tests can answer them and record their texts.
#pragma once

#include <string>

namespace platform {

// Style bits and answers with the values Windows gives them.
enum MessageBoxStyle : unsigned {
  kMessageOk = 0x0,
  kMessageYesNo = 0x4,
  kMessageIconStop = 0x10,
  kMessageIconQuestion = 0x20,
};
enum MessageBoxAnswer { kAnswerOk = 1, kAnswerCancel = 2, kAnswerYes = 6, kAnswerNo = 7 };

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual int Show(const std::string& text, const std::string& title, unsigned style) = 0;
};

// The real boxes (MessageBoxA on win32; on posix the text goes to stderr and
// the answer is OK, or No for a question).
MessageBoxes& SystemMessageBoxes();

}  // namespace platform
