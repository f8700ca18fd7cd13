// An application library whose entry points return at once. With
// PROBE_RECORD set it records that it ran, and nothing else.
#include <windows.h>

#include "record.h"
#include "tolvarin_app.h"

TOLVARIN_APP_EXPORT void StartKorvadine(wchar_t** /*argv*/, int /*argc*/,
                                        int /*useAvx*/) {
  probe::Append("{\"event\":\"entry\",\"entry\":\"StartKorvadine\"}");
}

TOLVARIN_APP_EXPORT void StartSatellite(wchar_t** /*argv*/, int /*argc*/,
                                        int /*useAvx*/) {
  probe::Append("{\"event\":\"entry\",\"entry\":\"StartSatellite\"}");
}
