// SPDX-License-Identifier: MIT
// The stand-in's --synthetic: generated records for any well-formed id.
#ifndef TQ_TOOLS_MOCK_SERVICE_SYNTHETIC_H
#define TQ_TOOLS_MOCK_SERVICE_SYNTHETIC_H

#include <httplib.h>

namespace tqmock {

// The six routes answered from generated records: every id of "tt" and 7 to 10 ASCII
// digits is known, any other valid id is not (404, left out of a batch, not a film).
// The same id and language always give the same bytes.
void install_synthetic_routes(httplib::Server &svr);

} // namespace tqmock

#endif
