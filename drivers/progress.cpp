#include "drivers/progress.h"

#include <msiquery.h>

#include "frame/handles.h"

namespace kvca {

void SendProgress(MSIHANDLE install, int ticks) {
  MsiHandle record(MsiCreateRecord(4));
  if (!record) return;
  const int actionInfo[] = {1, 0, 0, 0};
  for (UINT field = 1; field <= 4; ++field) MsiRecordSetInteger(record.get(), field, actionInfo[field - 1]);
  MsiProcessMessage(install, INSTALLMESSAGE_PROGRESS, record.get());
  MsiRecordSetInteger(record.get(), 1, 2);
  MsiRecordSetInteger(record.get(), 2, ticks);
  MsiProcessMessage(install, INSTALLMESSAGE_PROGRESS, record.get());
}

}  // namespace kvca
