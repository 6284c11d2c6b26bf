// io_stub: being written.
#include "tq_internal.h"
