#include "platform/screens.h"

namespace screens {
namespace {
FrontEnd* current = nullptr;
}

FrontEnd& CurrentFrontEnd() { return *current; }
void SetFrontEnd(FrontEnd* frontEnd) { current = frontEnd; }

}  // namespace screens
