// The native build's window layer. Linux has no parameter dialog: a form
// fails with the text that says where to go instead. Tests link a headless
// window layer in its place (tests/common/headless.h).
#include "base/errors.h"
#include "dialog/window.h"

namespace sv::ui {

int run_modal(const FormSpec&, Window, DialogEvents&) {
  throw Error(
      u"The parameter dialog needs the Windows build of the block (UDPSV2Simulink.dll); on "
      u"Linux, give a block its settings with svhost new (--host, --port, --inputs, --type).");
}

}  // namespace sv::ui
