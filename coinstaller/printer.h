// CPrinter: one print queue, opened by its current name for the time of one rename. It composes the
// queue's new name from the printer-data text, the family tag and the driver's page-description-language
// tag, and applies it. NamePrintQueue is the naming of a freshly installed queue through it:
// "<printer-data text> VRA <PDL tag>", with " (Copy n)" when a local printer already bears it.
#pragma once

#include "coinstaller/spooler.h"
#include "coinstaller/wide_string.h"
#include "platform/platform.h"

#include <cstdint>

class CPrinter {
  public:
    // Opens the queue named `queueName` through `spooler`, which must outlive it, and reads its driver
    // name; an unopened queue composes nothing.
    CPrinter(CSpooler& spooler, const WideString& queueName);
    ~CPrinter();
    CPrinter(const CPrinter&) = delete;
    CPrinter& operator=(const CPrinter&) = delete;

    void Init();
    void SetName(const WideString& name);
    void Open();
    void Close();

    // Each fills its part of the name only while that part is empty.
    void ReadPrinterDataString();
    void SetFamilyTag();
    void DerivePdlTag();
    // Joins the three parts with single spaces once all three are there.
    void ComposeName();
    // The composed name, composing it first when needed; empty when it cannot be composed.
    const WideString& GetComposedName();
    // 1 when the queue took `newName` (or its first free variant), else 0.
    int32_t Rename(const WideString& newName);

    const WideString& QueueName() const { return queueName; }
    const WideString& DriverName() const { return driverName; }
    const WideString& PrinterDataString() const { return printerDataString; }
    const WideString& FamilyTag() const { return familyTag; }
    const WideString& PdlTag() const { return pdlTag; }
    HANDLE PrinterHandle() const { return printerHandle; }

  private:
    CSpooler& spooler;
    WideString queueName;
    WideString driverName;
    WideString composedName;
    WideString printerDataString;
    WideString familyTag;
    WideString pdlTag;
    HANDLE printerHandle = nullptr;
    int32_t ownsHandle = 1;
};

// `queueName` is the queue's current name. 1 when the spooler took the new name, else 0; a queue that
// cannot be opened or whose name cannot be composed keeps its name.
int32_t NamePrintQueue(CSpooler& spooler, WideString queueName);
