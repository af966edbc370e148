#include "platform/message_box.h"

#include <cstdio>

namespace platform {
namespace {

constexpr unsigned kButtonsMask = 0xF;
constexpr unsigned kMessageYesNoCancel = 0x3;

// Nobody is there to answer: the text is shown on stderr and the safe answer
// given, No where the box asks a question.
class StderrBoxes : public MessageBoxes {
 public:
  int Show(const std::string& text, const std::string& title, unsigned style) override {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(stderr);
    const unsigned buttons = style & kButtonsMask;
    return buttons == kMessageYesNo || buttons == kMessageYesNoCancel ? kAnswerNo : kAnswerOk;
  }
};

}  // namespace

MessageBoxes& SystemMessageBoxes() {
  // Never destroyed: a pipeline thread still running at exit may ask it.
  static StderrBoxes* boxes = new StderrBoxes;
  return *boxes;
}

}  // namespace platform
