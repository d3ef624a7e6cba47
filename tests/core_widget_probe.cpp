// Built only by the test feederbench_core_has_no_widgets, which expects this
// to fail: the core library gives its users Qt Core and nothing above it.
#include "protocol/modbus.h"

#include <QWidget>
