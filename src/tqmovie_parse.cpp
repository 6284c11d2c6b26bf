// tqmovie_parse: being written.
#include "tq_internal.h"
