// The tab pages. Each page is a popup dialog made from its template by the frame, which
// shows, moves and destroys it; the procedures here keep the frame's record of the page shown.
#include "tlmtest.h"
