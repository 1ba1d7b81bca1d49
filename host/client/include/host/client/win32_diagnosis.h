// Why icon tracking works or not, on this desktop now (diagnosis.h): for a host (its menu, its
// log), its installer and its support. Call it from a thread that pumps messages or from a
// console program: the GetPath round trip waits for Sidecar64 on this thread, up to 5 s.
#ifndef QUILLON_HOST_CLIENT_WIN32_DIAGNOSIS_H
#define QUILLON_HOST_CLIENT_WIN32_DIAGNOSIS_H

#include "host/client/diagnosis.h"
#include "host/client/diagnosis_port.h"

namespace quillon {

Diagnosis Diagnose(const DiagnoseOptions& options = {});

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_WIN32_DIAGNOSIS_H
