// The two number rules of the liveness value live with the client, which reads them back for its
// diagnosis and ships them to host developers.
#pragma once

#include "host/client/handle_text.h"
