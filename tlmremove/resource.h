// Resource ids of tlmremove.
#ifndef TLMREMOVE_RESOURCE_H
#define TLMREMOVE_RESOURCE_H

#define IDS_CAPTION    100
#define IDS_CONFIRM    101
#define IDS_COMPLETED  102
#define IDS_BAD_OS     103
#define IDS_FAILED     106
#define IDS_NEED_64BIT 107

#endif
