#include "coinstaller/print_queue_naming.h"

#include "coinstaller/printer.h"

int32_t NamePrintQueue(WideString queueName) {
    CPrinter printer(queueName);
    const WideString& composedName = printer.GetComposedName();
    return printer.Rename(composedName);
}
