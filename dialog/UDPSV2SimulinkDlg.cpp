#include "dialog/UDPSV2SimulinkDlg.h"

#include "support/errors.h"

namespace sv {

void run_parameter_dialog(TUserData&, std::uint8_t*) {
  throw Error(u"Der Parameterdialog ist in dieser Ausgabe nicht verfügbar");
}

}  // namespace sv
