#include "platform/message_box.h"

#include <windows.h>

namespace platform {
namespace {

class SystemBoxes : public MessageBoxes {
 public:
  int Show(const std::string& text, const std::string& title, unsigned style) override {
    return MessageBoxA(nullptr, text.c_str(), title.c_str(), style);
  }
};

}  // namespace

MessageBoxes& SystemMessageBoxes() {
  static SystemBoxes boxes;
  return boxes;
}

}  // namespace platform
