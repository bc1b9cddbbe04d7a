// The display this build shows the property dialogs on: FLTK windows on an
// X server, or dialogs made from the DLL's own templates on Windows.
#pragma once

#include "dialogs/dialog_flow.h"

namespace vimbra::dialogs::views {

DialogDisplay& SystemDisplay();

}  // namespace vimbra::dialogs::views
