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
  // Never destroyed: a pipeline thread still running at exit may ask it.
  static SystemBoxes* boxes = new SystemBoxes;
  return *boxes;
}

}  // namespace platform
