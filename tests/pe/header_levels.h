/* The public header alone, as a user's first include. */
#include "tellamio.h"
