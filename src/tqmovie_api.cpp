// tqmovie_api: being written.
#include "tq_internal.h"
