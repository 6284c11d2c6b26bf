// tqmovie_cache: being written.
#include "tq_internal.h"
