// Gadget tables: one loop over the five gadget procedures, shared by both
// back ends, so that each program states its window's gadgets once, as data.
#include "runtime/window.h"

int32_t AddGadgets(const GadgetSpec* table, int32_t count, intptr_t image) {
  int32_t made = 1;
  for (int32_t i = 0; i < count; i++) {
    const GadgetSpec& g = table[i];
    intptr_t handle = 0;
    switch (g.kind) {
      case kGadgetButton: handle = AddButton(g.number, g.x, g.y, g.width, g.height, g.text); break;
      case kGadgetTextField:
        handle = AddTextField(g.number, g.x, g.y, g.width, g.height, g.text);
        break;
      case kGadgetLabel: handle = AddLabel(g.number, g.x, g.y, g.width, g.height, g.text); break;
      case kGadgetPicture: handle = AddPicture(g.number, g.x, g.y, g.width, g.height, image); break;
      case kGadgetProgressBar:
        handle = AddProgressBar(g.number, g.x, g.y, g.width, g.height, 0, g.maximum);
        break;
      default: break;
    }
    if (handle == 0) made = 0;
  }
  return made;
}
