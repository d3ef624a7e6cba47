// Built only by the tests feederbench_ops_has_no_widget and
// feederbench_ops_has_no_serialport, which expect it to fail: the device
// operations give their users Qt Core and Sql, neither widgets nor a port.
#include "device/link.h"
#include "device/operations.h"
#include "device/plan.h"
#include "device/planrun.h"
#include "device/runrecord.h"

#if defined(FEEDERBENCH_PROBE_Widget)
#include <QWidget>
#elif defined(FEEDERBENCH_PROBE_SerialPort)
#include <QSerialPort>
#endif
