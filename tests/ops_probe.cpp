// Built only by the tests feederbench_ops_has_no_widget,
// feederbench_ops_has_no_serialport and feederbench_cli_has_no_widget, which
// expect it to fail: the device operations give their users Qt Core and Sql,
// neither widgets nor a port; the command line adds the port, no widgets.
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
