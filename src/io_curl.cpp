// io_curl: being written.
#include "tq_internal.h"
