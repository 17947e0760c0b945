/* The public headers alone, as a user's first includes. */
#include "tellam_controller.h"
#include "tellamio.h"
