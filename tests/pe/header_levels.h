/* The public headers alone, as a user's first includes. */
#include "tellam_controller.h"
#include "tellam_protocol.h"
#include "tellamio.h"
