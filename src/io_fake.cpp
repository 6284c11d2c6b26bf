// io_fake: being written.
#include "tq_internal.h"
