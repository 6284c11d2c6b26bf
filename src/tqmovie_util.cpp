// tqmovie_util: being written.
#include "tq_internal.h"
